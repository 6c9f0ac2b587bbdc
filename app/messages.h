// What the program says, and where: its messages on standard error ("vorla: ..."), its reports
// on standard output unless an output goes there; the exit statuses; the files a run reads.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "output/output_file.h"

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// What the program says besides its outputs: standard output, or standard error when an output
// goes to standard output ("-").
extern std::FILE* g_says;

void SayOnStandardError(const std::vector<std::string>& outputs);

// The files a run reads or has loaded, which none of its outputs may be.
std::vector<RunFile> RunReads(const std::string& input, const std::string& module_path);

// A peak sample as dB below full scale; -inf for silence.
double Dbfs(int64_t peak);

// The peaks, the clipping and the speed of a render, as both render results tell them.
template <typename Result>
void PrintLevels(const Result& result) {
  // A raw file is never clamped: then the count is what a 16-bit output would clip.
  std::fprintf(g_says, "peak left %lld (%.1f dBFS), right %lld (%.1f dBFS), %llu %s\n",
               static_cast<long long>(result.peak_left), Dbfs(result.peak_left),
               static_cast<long long>(result.peak_right), Dbfs(result.peak_right),
               static_cast<unsigned long long>(result.clipped_samples),
               result.clipped_would_be
                   ? "samples a 16-bit output would clip (the raw file keeps them)"
                   : "clipped samples");
  std::fprintf(g_says, "rendered in %.3f s: %.0fx real time\n", result.wall_seconds,
               result.wall_seconds > 0 ? result.seconds / result.wall_seconds : 0.0);
}

// "vorla: message" on standard error, one line: paths and names in it may come from anywhere.
void Tell(const std::string& message);
// Tell, then kFailed.
int Fail(const std::string& message);
// Tell, then kUsage.
int Usage(const std::string& message);
