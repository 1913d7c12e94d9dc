// Plays one sound at a time through Web Audio. Switching between the versions of one file
// (original and encoded) goes on at the same moment, so the two can be compared by ear.
import { readWav } from './wav.js';

const MIN_RATE = 3000;  // what AudioBuffers may hold
const MAX_RATE = 768000;
const MAX_CHANNELS = 32;

function toAudioBuffer(context, { samples, channels, sampleRate }) {
  if (sampleRate < MIN_RATE || sampleRate > MAX_RATE || channels > MAX_CHANNELS) {
    throw new Error(`the browser cannot play ${channels} channels at ${sampleRate} Hz`);
  }
  const frames = samples.length / channels;
  const buffer = context.createBuffer(channels, Math.max(1, frames), sampleRate);
  for (let c = 0; c < channels; c++) {
    const data = buffer.getChannelData(c);
    for (let f = 0; f < frames; f++) data[f] = samples[f * channels + c] / 32768;
  }
  return buffer;
}

function soundOf(description) {
  return description.kind === 'wav' ? readWav(description.bytes) : description;
}

function clock(seconds) {
  const whole = Math.floor(seconds);
  return `${Math.floor(whole / 60)}:${String(whole % 60).padStart(2, '0')}`;
}

export class Player {
  constructor() {
    this.context = null;
    this.buffers = new WeakMap();  // button -> AudioBuffer, made on first play
    this.current = null;  // { node, button, source, startedAt, offset, buffer, position, timer }
  }

  // Created on the first click: browsers start audio only after a gesture.
  audio() {
    if (!this.context) {
      this.context = new AudioContext();
      const show = () => (document.body.dataset.audio = this.context.state);
      this.context.addEventListener('statechange', show);
      show();
    }
    return this.context;
  }

  async toggle(node, which, button, describe) {
    const playing = this.current;
    if (playing && playing.button === button) {
      this.stop();
      return;
    }
    const resumeAt = playing && playing.node === node ? this.position() : 0;
    this.stop();
    try {
      const context = this.audio();
      await context.resume();
      if (!this.buffers.has(button)) this.buffers.set(button, toAudioBuffer(context, soundOf(await describe())));
      this.start(node, button, this.buffers.get(button), resumeAt);
    } catch (error) {
      node.querySelector('.message').textContent = `Cannot play: ${error.message}`;
    }
  }

  start(node, button, buffer, offset) {
    const context = this.context;
    const source = context.createBufferSource();
    source.buffer = buffer;
    source.connect(context.destination);
    const at = offset < buffer.duration ? offset : 0;
    source.start(0, at);
    source.onended = () => {
      if (this.current?.source === source) this.stop();
    };
    const position = node.querySelector('.position') ?? document.createElement('span');
    position.className = 'position';
    position.setAttribute('aria-live', 'off');
    button.after(position);
    button.setAttribute('aria-pressed', 'true');
    node.dataset.playing = button.dataset.which;
    this.current = { node, button, source, startedAt: context.currentTime - at, buffer, position };
    const update = () => {
      position.textContent = `${clock(this.position())} / ${clock(buffer.duration)}`;
    };
    update();
    this.current.timer = setInterval(update, 250);
  }

  position() {
    const playing = this.current;
    return playing ? Math.min(this.context.currentTime - playing.startedAt, playing.buffer.duration) : 0;
  }

  stop() {
    const playing = this.current;
    if (!playing) return;
    this.current = null;
    clearInterval(playing.timer);
    playing.source.onended = null;
    try {
      playing.source.stop();
    } catch {
      // already ended
    }
    playing.button.setAttribute('aria-pressed', 'false');
    delete playing.node.dataset.playing;
  }
}
