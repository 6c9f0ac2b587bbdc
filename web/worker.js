// The page's worker: the player (vorla.wasm) runs here, away from the page's thread, and feeds
// the audio worklet through a port of its own, keeping it a fraction of a second ahead.
//
// From the page:
//   {type: 'audio', port}                 the worklet's port
//   {type: 'load', name, file}            reads a File       -> {type: 'loaded', ...}
//   {type: 'start', settings, seconds}    plays from seconds -> {type: 'started', length}
//   {type: 'seek', seconds}               moves the song     -> {type: 'started', length}
//   {type: 'stop'}
//   {type: 'frames', settings}            the song's length -> {type: 'frames', frames}
//   {type: 'render', settings, port}      the whole song at once to the worklet behind port (an
//                                         offline context's)  -> {type: 'rendered', frames}
//   {type: 'save', settings, flac}        the whole song as a file -> {type: 'saved', bytes}
// To the page also {type: 'position', seconds}, {type: 'failed', message}.
importScripts('vorla.js');

const kBlock = 2048;        // frames a message to the worklet
const kAhead = 0.4;         // seconds queued in the worklet at most

let vorla = null;
let audio = null;           // the worklet's port
let pcm = 0;                // kBlock frames of 16-bit stereo in the player's memory
let levels = 0;             // the voices' levels after a block, in the player's memory
let feeding = false;        // a song is playing: keep the worklet fed
let songEnded = false;
let rate = 44100;
let queued = 0;             // frames sent to the worklet and not yet played
let heard = 0;              // seconds of the song played out
let seekTarget = -1;        // a seek on its way
let pumpTimer = null;
const pending = [];         // messages that came before the player was ready

function cString(text) {
  const size = vorla.lengthBytesUTF8(text) + 1;
  const p = vorla._malloc(size);
  vorla.stringToUTF8(text, p, size);
  return p;
}

function lastText() { return vorla.UTF8ToString(vorla._vorla_text()); }

// Starts the song as the settings say; false, with the reason told to the page, when it cannot.
function start(s) {
  const mute = cString(s.mute || '');
  const solo = cString(s.solo || '');
  const failed = vorla._vorla_start(s.rate, s.board ? 1 : 0, s.resample ? 1 : 0, s.loops,
                                    s.fade, s.length || 0, mute, solo);
  vorla._free(mute);
  vorla._free(solo);
  if (failed) postMessage({ type: 'failed', message: lastText() });
  rate = s.rate;
  return !failed;
}

// The next block of the song as the worklet plays it: floats, left and right interleaved.
function renderBlock() {
  const n = vorla._vorla_render(pcm, kBlock);
  const samples = vorla.HEAP16.subarray(pcm >> 1, (pcm >> 1) + 2 * n);
  const block = new Float32Array(2 * n);
  for (let i = 0; i < block.length; ++i) block[i] = samples[i] / 32768;
  return block;
}

// The voices' levels at the end of the block rendered last.
function blockLevels() {
  vorla._vorla_levels(levels);
  return vorla.HEAPU8.slice(levels, levels + 20);
}

function flush() {
  queued = 0;
  songEnded = false;
  audio.postMessage({ flush: true });
}

function pump() {
  pumpTimer = null;
  if (!feeding) return;
  if (seekTarget >= 0) {
    // A seek a few thousand frames at a time, so that newer messages are heard between steps.
    const step = vorla._vorla_seek(seekTarget, 1 << 16);
    if (step < 0) {
      feeding = false;
      postMessage({ type: 'failed', message: lastText() });
      return;
    }
    if (step === 0) {
      heard = seekTarget;
      seekTarget = -1;
      flush();
      postMessage({ type: 'started', length: vorla._vorla_length(), seconds: heard });
    }
    pumpTimer = setTimeout(pump, 0);
    return;
  }
  while (!songEnded && queued < kAhead * rate) {
    const block = renderBlock();
    const frames = block.length / 2;  // counted before the block is handed over (and emptied)
    songEnded = frames < kBlock;
    audio.postMessage({ frames: block, end: songEnded, levels: blockLevels() }, [block.buffer]);
    queued += frames;
  }
  pumpTimer = setTimeout(pump, 20);
}

function wake() {
  if (pumpTimer !== null) clearTimeout(pumpTimer);
  pumpTimer = setTimeout(pump, 0);
}

function fromWorklet(m) {
  if (m.played) {
    queued = Math.max(0, queued - m.played);
    heard += m.played / rate;
    postMessage({ type: 'position', seconds: heard });
  }
}

function handle(m) {
  switch (m.type) {
    case 'audio':
      audio = m.port;
      audio.onmessage = (e) => fromWorklet(e.data);
      break;
    case 'load': {
      feeding = false;
      flush();
      const name = cString(m.name);
      // A file too large is refused before it is read.
      let failed = vorla._vorla_check_size(name, m.file.size);
      let message = null;
      if (!failed) {
        let bytes = null;
        try {
          bytes = new Uint8Array(new FileReaderSync().readAsArrayBuffer(m.file));
        } catch (error) {
          // Gone or unreadable since it was chosen.
          message = `${m.name}: cannot be read (${error.message})`;
        }
        if (bytes !== null) {
          const p = vorla._malloc(Math.max(bytes.length, 1));
          vorla.HEAPU8.set(bytes, p);
          failed = vorla._vorla_load(p, bytes.length, name);
          vorla._free(p);
        }
      }
      vorla._free(name);
      if (failed || message !== null) {
        postMessage({ type: 'loaded', name: m.name, ok: false, message: message || lastText() });
      } else {
        const info = JSON.parse(vorla.UTF8ToString(vorla._vorla_info()));
        const report = vorla.UTF8ToString(vorla._vorla_report()).split('\n').filter((l) => l);
        postMessage({ type: 'loaded', name: m.name, ok: true, info, report });
      }
      break;
    }
    case 'start':
      feeding = false;
      flush();
      if (!start(m.settings)) break;
      feeding = true;
      heard = 0;
      seekTarget = m.seconds > 0 ? m.seconds : -1;
      if (seekTarget < 0) {
        postMessage({ type: 'started', length: vorla._vorla_length(), seconds: 0 });
      }
      wake();
      break;
    case 'seek':
      if (!feeding && !songEnded) break;
      feeding = true;
      seekTarget = Math.max(0, m.seconds);
      wake();
      break;
    case 'stop':
      feeding = false;
      flush();
      break;
    case 'frames':
      // The song's length in frames at the settings' rate.
      feeding = false;
      if (!start(m.settings)) break;
      postMessage({ type: 'frames', frames: Math.round(vorla._vorla_length() * m.settings.rate) });
      break;
    case 'render': {
      feeding = false;
      if (!start(m.settings)) break;
      let frames = 0;
      for (;;) {
        const block = renderBlock();
        const end = block.length < 2 * kBlock;
        frames += block.length / 2;
        m.port.postMessage({ frames: block, end }, [block.buffer]);
        if (end) break;
      }
      postMessage({ type: 'rendered', frames });
      break;
    }
    case 'save': {
      feeding = false;
      flush();
      if (!start(m.settings)) break;
      const path = '/save' + (m.flac ? '.flac' : '.wav');
      const out = cString(path);
      const failed = vorla._vorla_save(out, m.flac ? 1 : 0);
      vorla._free(out);
      if (failed) {
        postMessage({ type: 'failed', message: lastText() });
        break;
      }
      const bytes = vorla.FS.readFile(path);
      vorla.FS.unlink(path);
      postMessage({ type: 'saved', flac: m.flac, bytes }, [bytes.buffer]);
      break;
    }
  }
}

onmessage = (e) => {
  if (vorla === null) pending.push(e.data);
  else handle(e.data);
};

createVorla().then((module) => {
  vorla = module;
  pcm = vorla._malloc(kBlock * 4);
  levels = vorla._malloc(20);
  postMessage({ type: 'ready' });
  while (pending.length > 0) handle(pending.shift());
});
