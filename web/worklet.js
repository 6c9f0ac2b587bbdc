// The audio thread's side: plays the frames the worker rendered, from a queue of blocks that the
// worker keeps a fraction of a second ahead, so that a busy tab does not click. The worker
// reaches it through a port of its own (processorOptions never carry one; the page hands the
// port over); the page's messages come through this node's own port: {workerPort} (a new
// worker's), {paused: bool}, {flush: true} (a worker that failed: its blocks are dropped).
//
// From the worker: {frames: Float32Array (left, right interleaved), end: bool, levels}, {flush:
// true}. A block's levels (the voices', at its end) go to the page as the block starts playing.
// To the worker: {played: FRAMES} now and then. To the page: {received: true} when the song's
// last block came, {sounding: true} when its first frame is played, {ended: true} when its last
// one has been, {starved: FRAMES} when the queue ran dry in the middle of a song (a click).
class VorlaPlayer extends AudioWorkletProcessor {
  constructor() {
    super();
    this.queue = [];       // blocks of interleaved frames
    this.offset = 0;       // frames of queue[0] played
    this.played = 0;       // frames played since the last report
    this.paused = false;
    this.songEnd = false;  // the worker sent the song's last block
    this.sounding = false;
    this.starved = 0;      // frames of silence in the middle of a song: the worker was late
    this.worker = null;
    this.port.onmessage = (e) => {
      const m = e.data;
      if (m.workerPort) {
        this.worker = m.workerPort;
        this.worker.onmessage = (w) => this.fromWorker(w.data);
      }
      if ('paused' in m) this.paused = m.paused;
      if (m.flush) this.fromWorker(m);
    };
  }

  fromWorker(m) {
    if (m.flush) {
      this.queue = [];
      this.offset = 0;
      this.songEnd = false;
      this.sounding = false;
    }
    if (m.frames) this.queue.push(m);
    if (m.end) {
      this.songEnd = true;
      this.port.postMessage({ received: true });
    }
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const left = out[0];
    const right = out.length > 1 ? out[1] : out[0];
    let i = 0;
    if (!this.paused) {
      while (i < left.length && this.queue.length > 0) {
        const block = this.queue[0].frames;
        const frames = block.length / 2;
        if (this.offset === 0 && this.queue[0].levels) {
          this.port.postMessage({ levels: this.queue[0].levels });
        }
        const n = Math.min(left.length - i, frames - this.offset);
        for (let k = 0; k < n; ++k) {
          left[i + k] = block[2 * (this.offset + k)];
          right[i + k] = block[2 * (this.offset + k) + 1];
        }
        i += n;
        this.offset += n;
        if (this.offset === frames) {
          this.queue.shift();
          this.offset = 0;
        }
      }
      if (i > 0 && !this.sounding) {
        this.sounding = true;
        this.port.postMessage({ sounding: true });
      }
      if (this.sounding && i < left.length && !this.songEnd) {
        this.starved += left.length - i;
        this.port.postMessage({ starved: this.starved });
      }
      this.played += i;
      if (this.worker && this.played >= 2048) {
        this.worker.postMessage({ played: this.played });
        this.played = 0;
      }
      if (this.songEnd && this.queue.length === 0) {
        this.songEnd = false;
        if (this.worker && this.played > 0) this.worker.postMessage({ played: this.played });
        this.played = 0;
        this.port.postMessage({ ended: true });
      }
    }
    // What the queue could not give (paused, or the worker behind) is silence.
    left.fill(0, i);
    if (right !== left) right.fill(0, i);
    return true;
  }
}

registerProcessor('vorla-player', VorlaPlayer);
