// The page: a playlist of dropped or opened files, the transport, the settings, the voices, the
// keys, and "Save as". The player runs in a worker (worker.js); its sound reaches the device
// through an AudioWorklet (worklet.js) at the device's rate.
'use strict';

const $ = (id) => document.getElementById(id);
let worker = null;        // the player, started afresh after a fault
const playlist = [];      // {name, file, info, error}
let current = -1;
let context = null;       // the AudioContext, resumed at the first file (a user's gesture)
let node = null;
let gainNode = null;
let volumeDb = 0;
let playing = false;      // the song runs (not paused)
let stopped = true;       // no song is fed to the worklet (none yet, q, or the list's end)
let length = 0;           // seconds; < 0 forever
let position = 0;
let dropTime = -1;        // when the last drop or open came, for the first-sound time
let seeking = false;
const muted = new Set();  // voices left out, by name (fm1, psg2c)
const solo = new Set();

// What the tests read back.
window.vorlaPage = {
  firstSoundMs: -1, messages: [], saved: null, song: -1, ready: false, starved: 0,
};

function clock(seconds) {
  if (!(seconds >= 0)) return '\u221e';
  const s = Math.floor(seconds);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

function tell(text, kind = 'error') {
  const p = document.createElement('p');
  p.className = kind;
  p.textContent = text;
  $('messages').prepend(p);
  window.vorlaPage.messages.push(text);
}

function status(text) { $('status').textContent = text; }

function settings(rate) {
  return {
    rate,
    board: $('mode').value === 'board',
    resample: $('resampler').value === 'soxr',
    loops: $('forever').checked ? -1 : Math.max(0, parseInt($('loops').value, 10) || 0),
    fade: Math.max(0, parseFloat($('fade').value) || 0),
    mute: [...muted].join(','),
    solo: [...solo].join(','),
  };
}

// The audio graph is made as the page opens, so that a file's first sound waits for the song
// alone; a browser keeps the context suspended until a person's gesture (a drop, a choice of
// files) resumes it.
let audioReady = null;

function ensureAudio() {
  if (audioReady === null) audioReady = makeAudio();
  return audioReady;
}

async function makeAudio() {
  context = new AudioContext({ latencyHint: 'interactive' });
  await context.audioWorklet.addModule('worklet.js');
  node = new AudioWorkletNode(context, 'vorla-player', { outputChannelCount: [2] });
  gainNode = context.createGain();
  node.connect(gainNode).connect(context.destination);
  connectWorker();
  node.port.onmessage = (e) => {
    if (e.data.sounding && dropTime >= 0) {
      window.vorlaPage.firstSoundMs = Math.round(performance.now() - dropTime);
      status(`first sound ${window.vorlaPage.firstSoundMs} ms after the files came`);
      dropTime = -1;
    }
    if (e.data.ended) next(1);
    if (e.data.levels) drawLevels(e.data.levels);
    if (e.data.starved) window.vorlaPage.starved = e.data.starved;
  };
}

// ---- the playlist ----

function drawPlaylist() {
  const list = $('playlist');
  list.textContent = '';
  playlist.forEach((entry, i) => {
    const li = document.createElement('li');
    li.textContent = entry.info && entry.info.tag && entry.info.tag.title
      ? `${entry.info.tag.title} (${entry.name})` : entry.name;
    if (i === current) li.className = 'current';
    if (entry.error) {
      li.className += ' bad';
      li.title = entry.error;
    }
    li.onclick = () => choose(i);
    list.append(li);
  });
}

async function addFiles(files) {
  dropTime = performance.now();
  await ensureAudio();
  context.resume();
  const first = playlist.length;
  for (const file of files) playlist.push({ name: file.name, file, info: null, error: null });
  drawPlaylist();
  if (!playing || current < 0) choose(first);
}

function choose(index) {
  if (index < 0 || index >= playlist.length) return;
  current = index;
  drawPlaylist();
  worker.postMessage({ type: 'load', name: playlist[index].name, file: playlist[index].file });
}

// The next (step 1) or previous (-1) song that reads; past the end the player stops.
function next(step) {
  const i = current + step;
  if (i < 0 || i >= playlist.length) {
    stop();
    return;
  }
  choose(i);
}

function startSong(seconds = 0) {
  if (current < 0 || !playlist[current].info) return;
  node.port.postMessage({ paused: false });
  playing = true;
  stopped = false;
  $('play').textContent = 'pause';
  worker.postMessage({ type: 'start', settings: settings(context.sampleRate), seconds });
  context.resume();
}

function stop() {
  worker.postMessage({ type: 'stop' });
  playing = false;
  stopped = true;
  $('play').textContent = 'play';
}

// Pauses or resumes the song; a stopped one starts again where it stood.
function togglePause() {
  if (current < 0 || node === null) return;
  if (!playlist[current].info) return;
  if (stopped) {
    startSong(position);
    return;
  }
  playing = !playing;
  node.port.postMessage({ paused: !playing });
  $('play').textContent = playing ? 'pause' : 'play';
}

function seekTo(seconds) {
  if (current < 0 || !playlist[current].info) return;
  const end = length >= 0 ? length : Infinity;
  const target = Math.min(Math.max(0, seconds), end);
  if (stopped) {
    // Where the song starts when played again.
    position = target;
    $('seek').value = position;
    $('time').textContent = `${clock(position)} / ${clock(length)}`;
    return;
  }
  seeking = true;
  worker.postMessage({ type: 'seek', seconds: target });
}

// ---- the song: tags and voices ----

const tagFields = [['game', 'Game'], ['system', 'System'], ['author', 'Author'], ['date', 'Date'],
  ['logged_by', 'Logged by']];

function showSong(entry) {
  const info = entry.info;
  const tag = info.tag || {};
  $('title').textContent = tag.title || tag.title_original || entry.name;
  const tags = $('tags');
  tags.textContent = '';
  const add = (name, value) => {
    if (!value) return;
    const dt = document.createElement('dt');
    dt.textContent = name;
    const dd = document.createElement('dd');
    dd.textContent = value;
    tags.append(dt, dd);
  };
  for (const [key, name] of tagFields) add(name, tag[key] || tag[`${key}_original`]);
  add('Format', `${info.format} ${info.version}`);
  add('Chips', info.chips.map((c) => `${c.chip} ${(c.clock / 1e6).toFixed(4)} MHz`).join(', '));
  showVoices(info);
}

function voicesOf(info) {
  const voices = [];
  for (const chip of info.chips) {
    if (chip.chip === 'YM2151') for (let c = 1; c <= 8; ++c) voices.push(`fm${c}`);
    const psg = /^PSG (\d)$/.exec(chip.chip);
    if (psg) for (const c of 'abc') voices.push(`psg${psg[1]}${c}`);
  }
  return voices;
}

function showVoices(info) {
  const box = $('voices');
  box.textContent = '';
  for (const voice of voicesOf(info)) {
    const span = document.createElement('span');
    span.className = 'voice';
    const label = document.createElement('label');
    const check = document.createElement('input');
    check.type = 'checkbox';
    check.checked = !muted.has(voice);
    check.title = `mute ${voice}`;
    check.onchange = () => {
      if (check.checked) muted.delete(voice); else muted.add(voice);
      span.classList.toggle('muted', !check.checked);
      restart();
    };
    label.append(check, ` ${voice} `);
    const soloButton = document.createElement('button');
    soloButton.textContent = 'S';
    soloButton.title = `solo ${voice}`;
    soloButton.onclick = () => {
      if (solo.has(voice)) solo.delete(voice); else solo.add(voice);
      span.classList.toggle('solo', solo.has(voice));
      restart();
    };
    span.classList.toggle('muted', muted.has(voice));
    span.classList.toggle('solo', solo.has(voice));
    span.append(label, soloButton);
    box.append(span);
  }
}

// A setting changed: the song plays on from where it is with it.
function restart() {
  if (current >= 0 && playlist[current].info && !stopped) startSong(position);
}

// ---- the level view: a bar a voice, from its registers, falling back slowly ----

const shown = new Float32Array(20);
const voiceNames = [...Array(8).keys()].map((i) => `fm${i + 1}`).concat(
  [1, 2, 3, 4].flatMap((p) => ['a', 'b', 'c'].map((c) => `psg${p}${c}`)));

function drawLevels(levels) {
  const canvas = $('levels');
  const g = canvas.getContext('2d');
  const entry = playlist[current];
  const voices = entry && entry.info ? voicesOf(entry.info) : [];
  g.fillStyle = '#111';
  g.fillRect(0, 0, canvas.width, canvas.height);
  const width = canvas.width / Math.max(voices.length, 1);
  voices.forEach((voice, i) => {
    const v = voiceNames.indexOf(voice);
    shown[v] = Math.max(levels[v] / 255, shown[v] * 0.8);
    const h = shown[v] * (canvas.height - 14);
    g.fillStyle = voice.startsWith('fm') ? '#4fc3f7' : '#aed581';
    g.fillRect(i * width + 2, canvas.height - 14 - h, width - 4, h);
    g.fillStyle = '#bbb';
    g.font = '10px sans-serif';
    g.fillText(voice, i * width + 2, canvas.height - 3);
  });
}

// ---- Save as ----

function save(flac) {
  if (current < 0 || !playlist[current].info) return;
  stop();
  status(`rendering ${playlist[current].name} as ${flac ? 'FLAC' : 'WAV'}...`);
  worker.postMessage({ type: 'save', settings: settings(44100), flac });
}

function download(bytes, flac) {
  const name = playlist[current].name.replace(/\.[^.]*$/, '') + (flac ? '.flac' : '.wav');
  const url = URL.createObjectURL(new Blob([bytes], { type: flac ? 'audio/flac' : 'audio/wav' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
  status(`saved ${name} (${bytes.length} bytes)`);
}

// ---- the worker and its answers ----

function startWorker() {
  worker = new Worker('worker.js');
  worker.onmessage = fromWorker;
  worker.onerror = workerFault;
  if (node !== null) connectWorker();
}

// The worker feeds the worklet through a port of their own.
function connectWorker() {
  const channel = new MessageChannel();
  node.port.postMessage({ workerPort: channel.port1 }, [channel.port1]);
  worker.postMessage({ type: 'audio', port: channel.port2 }, [channel.port2]);
}

// A fault inside the player is told, never a silent stop: the song it played is marked with it,
// what it had queued is dropped, and a fresh player takes the next song.
function workerFault(e) {
  const entry = playlist[current];
  const message = `${entry ? `${entry.name}: ` : ''}the player stopped: ${e.message}`;
  tell(message);
  if (entry) entry.error = message;
  drawPlaylist();
  worker.terminate();
  if (node !== null) node.port.postMessage({ flush: true });
  playing = false;
  stopped = true;
  startWorker();
}

function fromWorker(e) {
  const m = e.data;
  switch (m.type) {
    case 'ready':
      window.vorlaPage.ready = true;
      break;
    case 'loaded': {
      const entry = playlist[current];
      if (!entry || entry.name !== m.name) break;
      if (!m.ok) {
        entry.error = m.message;
        tell(m.message);
        drawPlaylist();
        // A song that cannot be read is told and skipped, as `vorla play` does.
        next(1);
        break;
      }
      entry.info = m.info;
      window.vorlaPage.song = current;
      for (const line of m.report) tell(`${entry.name}: ${line}`, 'warning');
      drawPlaylist();
      showSong(entry);
      startSong(0);
      break;
    }
    case 'started':
      length = m.length;
      position = m.seconds;
      seeking = false;
      $('seek').max = length > 0 ? length : 1;
      break;
    case 'position':
      position = m.seconds;
      if (!seeking) $('seek').value = position;
      $('time').textContent = `${clock(position)} / ${clock(length)}`;
      break;
    case 'failed':
      tell(m.message);
      playing = false;
      stopped = true;
      break;
    case 'saved':
      window.vorlaPage.saved = m.bytes;
      download(m.bytes, m.flac);
      break;
  }
}

startWorker();

// ---- the user's hands ----

$('files').onchange = (e) => {
  addFiles([...e.target.files]);
  e.target.value = '';
};
document.addEventListener('dragover', (e) => {
  e.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
document.addEventListener('drop', (e) => {
  e.preventDefault();
  document.body.classList.remove('dragging');
  if (e.dataTransfer.files.length > 0) addFiles([...e.dataTransfer.files]);
});
$('play').onclick = togglePause;
$('prev').onclick = () => next(-1);
$('next').onclick = () => next(1);
$('seek').oninput = () => { seeking = true; };
$('seek').onchange = () => seekTo(parseFloat($('seek').value));
for (const id of ['mode', 'resampler', 'loops', 'forever', 'fade']) $(id).onchange = restart;
$('save-wav').onclick = () => save(false);
$('save-flac').onclick = () => save(true);

function setVolume(db) {
  volumeDb = Math.min(12, Math.max(-30, db));
  if (gainNode) gainNode.gain.value = Math.pow(10, volumeDb / 20);
  $('volume').textContent = `${volumeDb.toFixed(1)} dB`;
}

// The keys of `vorla play`, where a browser leaves them to the page.
document.addEventListener('keydown', (e) => {
  // Typing into a number field keeps its keys.
  if (e.target.tagName === 'INPUT' && e.target.type === 'number') return;
  const jump = (seconds) => { e.preventDefault(); seekTo(position + seconds); };
  const far = e.shiftKey || e.ctrlKey;
  switch (e.key) {
    case ' ': e.preventDefault(); togglePause(); break;
    case 'ArrowLeft': jump(far ? -60 : -5); break;
    case 'ArrowRight': jump(far ? 60 : 5); break;
    case 'ArrowDown': jump(-60); break;
    case 'ArrowUp': jump(60); break;
    case 'n': next(1); break;
    case 'b': next(-1); break;
    case '+': case '=': setVolume(volumeDb + 1.5); break;
    case '-': setVolume(volumeDb - 1.5); break;
    case 'q': case 'Escape': stop(); break;
    default: break;
  }
});

ensureAudio();

// ---- offline rendering through the worklet (what the tests compare with `vorla render`) ----

// Renders the current song at rate through the same worklet into an OfflineAudioContext; the
// samples back as 16-bit integers, left and right interleaved.
window.vorlaPage.renderOffline = async (rate, overrides = {}) => {
  const song = { ...settings(rate), ...overrides };
  const answer = (type) => new Promise((resolve) => {
    const listen = (e) => {
      if (e.data.type !== type && e.data.type !== 'failed') return;
      worker.removeEventListener('message', listen);
      resolve(e.data);
    };
    worker.addEventListener('message', listen);
  });
  const measured = answer('frames');
  worker.postMessage({ type: 'frames', settings: song });
  const { frames } = await measured;
  const ctx = new OfflineAudioContext(2, frames, rate);
  await ctx.audioWorklet.addModule('worklet.js');
  const player = new AudioWorkletNode(ctx, 'vorla-player', { outputChannelCount: [2] });
  player.connect(ctx.destination);
  const channel = new MessageChannel();
  player.port.postMessage({ workerPort: channel.port1 }, [channel.port1]);
  // The whole song is queued in the worklet before the context renders.
  const received = new Promise((resolve) => {
    player.port.onmessage = (e) => { if (e.data.received) resolve(); };
  });
  worker.postMessage({ type: 'render', settings: song, port: channel.port2 }, [channel.port2]);
  await received;
  const buffer = await ctx.startRendering();
  const left = buffer.getChannelData(0);
  const right = buffer.getChannelData(1);
  const out = new Int16Array(2 * frames);
  for (let i = 0; i < frames; ++i) {
    out[2 * i] = Math.round(left[i] * 32768);
    out[2 * i + 1] = Math.round(right[i] * 32768);
  }
  return out;
};
