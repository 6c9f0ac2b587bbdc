// The command line's own checks, with messages as people write them: numbers that are not
// numbers and numbers out of range told apart, the nearest subcommand for a misspelt one,
// options given twice. (Outputs that would overwrite an input or each other: output_file.h.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A whole number in [min, max]; false with "--NAME: ..." in *error.
bool ParseWhole(const std::string& name, const std::string& text, int64_t min, int64_t max,
                int64_t* value, std::string* error);
// A finite decimal number in [min, max] (min exclusive when min_exclusive); false with
// "--NAME: ..." in *error.
bool ParseDecimal(const std::string& name, const std::string& text, double min, bool min_exclusive,
                  double max, double* value, std::string* error);

// The known word nearest to `word` by edit distance, or "" when none is near.
std::string NearestWord(const std::string& word, const std::vector<std::string>& known);

// The first long option that appears more than once among the arguments, or "".
std::string RepeatedOption(int argc, char** argv);
