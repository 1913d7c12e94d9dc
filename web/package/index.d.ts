// Types of talveco's JavaScript interface (index.js).

/** The failure kinds, named as in talveco's C and Python interfaces. */
export type TalvecoErrorKind =
  | 'NotAcmFile'
  | 'OutOfMemory'
  | 'IoError'
  | 'TooManySamples'
  | 'OutsideLimits'
  | 'PartialFrame'
  | 'InvalidCall'
  | 'FailedEarlier'
  | 'InvalidArgument'
  | 'Internal'
  | 'DamagedBlocks'
  | 'Truncated'
  | (string & {});

export class TalvecoError extends Error {
  readonly name: 'TalvecoError';
  readonly kind: TalvecoErrorKind;
  /** The C interface's code (0 for the failures of this layer's own checks). */
  readonly code: number;
}

/** Damaged blocks (skipped), a file cut short (the samples end with its
 *  data), or a stream that ended early after damaged blocks. */
export interface Problem {
  kind: 'DamagedBlocks' | 'Truncated' | 'EndsEarly';
  /** Blocks skipped, or samples announced but missing. */
  count: number;
  /** In talveco-decode's words. */
  message: string;
}

export interface StreamInfo {
  channels: number;
  sampleRate: number;
  frames: number;
  levels: number;
  rows: number;
  /** Seconds. */
  duration: number;
}

export interface Decoded {
  channels: number;
  sampleRate: number;
  /** Interleaved, whole frames. */
  samples: Int16Array;
  levels: number;
  rows: number;
  problems: Problem[];
}

export interface DecodeOptions {
  /** Fail with a TalvecoError ("DamagedBlocks" or "Truncated") at the first
   *  damage instead of naming it in `problems`. */
  strict?: boolean;
}

export interface EncodeOptions {
  channels: number;
  sampleRate: number;
  /** Constant quality, 0 (smallest) to 10 (best); 5 by default. */
  quality?: number;
  /** Average bitrate in kbit/s, all channels together; excludes `quality`. */
  bitrate?: number;
  /** Transform levels, 0 to 15; chosen from the material by default. */
  levels?: number | 'auto';
  /** Rows per block, 1 to 4095; chosen from the material by default. */
  rows?: number | 'auto';
}

export interface EncodeReport {
  /** The stream. */
  bytes: Uint8Array;
  /** Of the decoded samples against the input; Infinity when equal. */
  snrDb: number;
  bitsPerSample: number;
  levels: number;
  rows: number;
  /** All channels together, as the header announces. */
  samples: number;
  streamBytes: number;
  /** Floating-point samples beyond full scale, clipped. */
  clipped: number;
  /** NaN samples, taken as 0. */
  notNumbers: number;
}

export type Samples = Int16Array | Float32Array | Float64Array;

export interface Decoder extends StreamInfo, AsyncIterable<Int16Array> {
  /** The problems met by the chunks read so far. */
  readonly problems: Problem[];
  close(): void;
}

export interface Encoder {
  /** Whole frames, interleaved; floating-point samples at full scale (-1 to 1). */
  write(samples: Samples): void;
  finish(): EncodeReport;
  close(): void;
}

/** Loads talveco.wasm (from beside index.js unless given); the other
 *  functions call it themselves. */
export function init(
  source?: BufferSource | URL | string | Response | WebAssembly.Module,
): Promise<unknown>;
export function version(): Promise<string>;
export function info(bytes: Uint8Array | ArrayBuffer): Promise<StreamInfo>;
export function decode(bytes: Uint8Array | ArrayBuffer, options?: DecodeOptions): Promise<Decoded>;
export function decoder(bytes: Uint8Array | ArrayBuffer, options?: DecodeOptions): Promise<Decoder>;
export function encode(samples: Samples, options: EncodeOptions): Promise<Uint8Array>;
export function encoder(options: EncodeOptions): Promise<Encoder>;
/** The WAV file talveco-decode writes: mono or stereo, 16-bit PCM. */
export function toWav(decoded: Pick<Decoded, 'channels' | 'sampleRate' | 'samples'>): Uint8Array;
