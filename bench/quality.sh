#!/usr/bin/env bash
# The encoder's quality bench: makes speech and synthetic material, encodes each file at 2,
# 2.1, 3 and 4 bits per sample (and at the default quality), decodes with talveco and
# compares with the original, next to sox's IMA and MS ADPCM on the same files; then times
# the encoding of a 10-minute file next to flac -8 and oggenc -b 64; then the signals that are
# hard for the format, the SNR of those and of the files above at -q 0 to 10, generations and
# --like (bench/hard_signals.py); then speech of several
# voices: clicks at onsets of cut speech, drum hits and square bursts, a quiet tone after
# speech, generations (bench/speech_checks.py; SPEECH_SLICES=N slices of each kind, default
# 200); last many small files with one job and with two (bench/encode_jobs.sh; JOBS_RUNS=N
# runs each, default 3). Prints Markdown tables.
#   bench/quality.sh [WORK_DIR]
# BUILD=dir uses an existing Release build instead of making build-quality/.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/drums.sh
source bench/drums.sh
root=$PWD
bench="$root/bench"

need=()
command -v espeak-ng >/dev/null || need+=(espeak-ng)
command -v sox >/dev/null || need+=(sox)
command -v flac >/dev/null || need+=(flac)
command -v oggenc >/dev/null || need+=(vorbis-tools)
[ -d /usr/share/sounds/alsa ] || need+=(alsa-utils)
[ -d /usr/share/sounds/freedesktop ] || need+=(sound-theme-freedesktop)
command -v python3 >/dev/null || need+=(python3)
[ -x /usr/bin/time ] || need+=(time)
# The speech checks use numpy, from Debian's python3 (not a python3 of its own on PATH).
/usr/bin/python3 -c 'import numpy' 2>/dev/null || need+=(python3-numpy)
command -v cmake >/dev/null || need+=(cmake g++)
[ -f /usr/include/sndfile.h ] || need+=(libsndfile1-dev)
if [ ${#need[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" </dev/null >/dev/null
fi

build=${BUILD:-$root/build-quality}
if [ -z "${BUILD:-}" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALVECO_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target talveco talveco-encode make_bench_stream >/dev/null
fi
decoder="$build/app/talveco"
encoder="$build/app/encode/talveco-encode"
# The stream builder's streams join the --like table when it is built.
make_stream=()
[ -x "$build/bench/make_bench_stream" ] && make_stream=("$build/bench/make_bench_stream")

work=${1:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
rate=22050
# sox's noise generators and dither draw the same numbers on every run, so the material is the
# same from one run to the next.
export SOX_OPTS="-R"

# ---- material ----------------------------------------------------------------------------
# Every synthetic file fades in over 5 ms: the format's transform starts from silence, so no
# codec of it reproduces a sound that is loud at its very first samples (talveco-encode warns
# when that happens), and the tables are about the sound that follows.
# sox writes plain 16-bit PCM without dither (-D), so every file is exactly what was asked.
to16() { sox -D "$1" -r $rate -c 1 -e signed-integer -b 16 "$2"; }

make_speech() {  # NAME VOICE
    local text="The north wind and the sun were disputing which was the stronger, when a \
traveller came along wrapped in a warm cloak. They agreed that the one who first succeeded \
in making the traveller take his cloak off should be considered stronger than the other."
    espeak-ng -v "$2" -s 165 -w "$1.raw.wav" "$text"
    to16 "$1.raw.wav" "$1.wav"
    rm "$1.raw.wav"
}

make_chords() {
    local parts=() i=0
    for chord in "220 277.18 329.63 440" "196 246.94 293.66 392" "174.61 220 261.63 349.23" \
        "164.81 207.65 246.94 329.63"; do
        local tones=()
        for f in $chord; do tones+=(sawtooth "$f"); done
        # Four sawtooth voices, their harmonics up to about 2 kHz, with a gentle decay.
        sox -D -n -r $rate -b 16 -e signed-integer "chord$i.wav" \
            synth 2.5 "${tones[@]}" remix - lowpass 2000 fade 0.01 2.5 0.3 gain -n -3
        parts+=("chord$i.wav")
        i=$((i + 1))
    done
    sox -D "${parts[@]}" chords.wav
    rm "${parts[@]}"
}


make_material() {
    make_speech male en+m3
    make_speech female en+f3
    make_chords
    sox -D -n -r $rate -b 16 -c 1 -e signed-integer sweep.wav synth 10 sine 20/10000 fade 0.005 gain -n -6
    sox -D -n -r $rate -b 16 -c 1 -e signed-integer pink.raw.wav synth 10 pinknoise
    local rms
    rms=$(sox pink.raw.wav -n stats 2>&1 | awk '/RMS lev dB/ {print $4}')
    sox -D pink.raw.wav pink.wav fade 0.005 gain "$(python3 -c "print(-20 - ($rms))")"
    rm pink.raw.wav
    make_drums
    sox -D -n -r $rate -b 16 -c 1 -e signed-integer sine0dB.wav synth 10 sine 1000 fade 0.005 gain -n -0.01
    # Stereo: the male voice left, the chords right.
    sox -D -M male.wav chords.wav -c 2 stereo.wav trim 0 10
}

# Recordings rather than synthesis: the spoken channel names of alsa-utils and the
# freedesktop sound theme's bells, alarms and clicks, one after the other (27 s, with the
# recordings' own background noise between the sounds).
make_recordings() {
    local parts=() i=0
    for f in /usr/share/sounds/alsa/*.wav /usr/share/sounds/freedesktop/stereo/{alarm-clock-elapsed,bell,camera-shutter,complete,phone-incoming-call,message-new-instant,service-login,suspend-error}.oga; do
        [ -f "$f" ] || continue
        to16 "$f" "part$i.wav"
        parts+=("part$i.wav")
        i=$((i + 1))
    done
    sox -D "${parts[@]}" recordings.wav
    rm "${parts[@]}"
}

mono_files="male female chords sweep pink drums sine0dB"
all_files="$mono_files stereo"
make_material
make_recordings
rm -f results.tsv

channels_of() { soxi -c "$1.wav"; }
samples_of() { echo $(($(soxi -s "$1.wav") * $(channels_of "$1"))); }
bits_per_sample() { python3 -c "print(f'{$(stat -c %s "$1") * 8 / $2:.3f}')"; }

# ---- anchors: sox's ADPCM codecs ---------------------------------------------------------
adpcm_row() {  # NAME CODEC
    local name=$1 codec=$2 ch samples
    ch=$(channels_of "$name")
    samples=$(samples_of "$name")
    sox -D "$name.wav" -e "$codec" "$name.$codec.wav"
    sox -D "$name.$codec.wav" -e signed-integer -b 16 "$name.$codec.dec.wav"
    read -r snr seg wrapped _ < <(python3 "$bench/compare_pcm.py" "$name.wav" \
        "$name.$codec.dec.wav" "$ch" $rate)
    echo "$(bits_per_sample "$name.$codec.wav" "$samples") $snr $seg $wrapped"
}

# ---- talveco-encode ----------------------------------------------------------------------
acm_row() {  # NAME ENCODER-OPTIONS...
    local name=$1 ch samples
    shift
    ch=$(channels_of "$name")
    samples=$(samples_of "$name")
    "$encoder" -s -f "$@" -o "$name.acm" "$name.wav"
    rm -f "$name.dec.wav"
    cp "$name.acm" "$name.dec.acm"
    "$decoder" "$name.dec.acm" >/dev/null
    read -r snr seg wrapped _ < <(python3 "$bench/compare_pcm.py" "$name.wav" "$name.dec.wav" \
        "$ch" $rate)
    echo "$(bits_per_sample "$name.acm" "$samples") $snr $seg $wrapped"
}

echo "## ADPCM anchors (sox), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "| material | ch | IMA b/s | IMA SNR | IMA segSNR | IMA wrapped | MS b/s | MS SNR | MS segSNR | MS wrapped |"
echo "|:--|--:|--:|--:|--:|--:|--:|--:|--:|--:|"
for name in $all_files; do
    read -r ib is ig iw < <(adpcm_row "$name" ima-adpcm)
    read -r mb ms mg mw < <(adpcm_row "$name" ms-adpcm)
    echo "| $name | $(channels_of "$name") | $ib | $is | $ig | $iw | $mb | $ms | $mg | $mw |"
    printf 'ima\t%s\t%s\t%s\t%s\t%s\n' "$name" "$ib" "$is" "$ig" "$iw" >>results.tsv
done
echo

if [ ! -x "$encoder" ]; then
    echo "(no talveco-encode in $build: the encoder's columns are left out)"
    exit 0
fi

echo "## talveco-encode, average bitrate (-b kbps = bits x rate x channels / 1000)"
echo
echo "| material | asked b/s | got b/s | bitrate error % | SNR dB | segSNR dB | wrapped |"
echo "|:--|--:|--:|--:|--:|--:|--:|"
for name in $all_files; do
    ch=$(channels_of "$name")
    for bits in 2 2.1 3 4; do
        kbps=$(python3 -c "print($bits * $rate * $ch / 1000)")
        read -r got snr seg wrapped < <(acm_row "$name" -b "$kbps")
        err=$(python3 -c "print(f'{($got - $bits) / $bits * 100:+.2f}')")
        echo "| $name | $bits | $got | $err | $snr | $seg | $wrapped |"
        printf 'acm\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$bits" "$got" "$snr" "$seg" \
            "$wrapped" "$(soxi -D "$name.wav")" >>results.tsv
    done
done
echo
echo "## talveco-encode, constant quality (default -q 5)"
echo
echo "| material | b/s | SNR dB | segSNR dB | wrapped |"
echo "|:--|--:|--:|--:|--:|"
for name in $all_files; do
    read -r got snr seg wrapped < <(acm_row "$name")
    echo "| $name | $got | $snr | $seg | $wrapped |"
    printf 'q5\t%s\t%s\t%s\t%s\t%s\n' "$name" "$got" "$snr" "$seg" "$wrapped" >>results.tsv
done
echo

echo "## Constant quality against the average bitrate it chose (same rate, SNR in dB)"
echo
echo "| material | -q 5 b/s | -q 5 SNR | -b at that rate: b/s | SNR | -b better by |"
echo "|:--|--:|--:|--:|--:|--:|"
for name in $mono_files recordings; do
    read -r got snr _ < <(acm_row "$name")
    kbps=$(python3 -c "print(round($got * $rate / 1000, 3))")
    read -r bgot bsnr _ < <(acm_row "$name" -b "$kbps")
    echo "| $name | $got | $snr | $bgot | $bsnr | $(python3 -c "print(f'{$bsnr - $snr:.2f}')") |"
done
echo

# ---- speed -------------------------------------------------------------------------------
# Ten minutes of all the mono material over and over.
sox -D $(for _ in $(seq 9); do for n in $mono_files; do echo "$n.wav"; done; done) long.wav \
    trim 0 600
fastest() {  # COMMAND...: the least wall time of three runs, in seconds
    local best=""
    for _ in 1 2 3; do
        local start end t
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        t=$(python3 -c "print(f'{$end - $start:.2f}')")
        if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $t < $best else 1)"; then
            best=$t
        fi
    done
    echo "$best"
}
echo "## Encoding time, $(soxi -d long.wav) of 22050 Hz mono (best of 3 runs)"
echo
echo "| encoder | seconds | output bytes |"
echo "|:--|--:|--:|"
t=$(fastest "$encoder" -s -f -o long.q.acm long.wav)
echo "| talveco-encode -q 5 | $t | $(stat -c %s long.q.acm) |"
printf 'time\tquality\t%s\n' "$t" >>results.tsv
kbps=$(python3 -c "print(3 * $rate / 1000)")
t=$(fastest "$encoder" -s -f -b "$kbps" -o long.b.acm long.wav)
echo "| talveco-encode -b $kbps (3 b/s) | $t | $(stat -c %s long.b.acm) |"
printf 'time\tbitrate\t%s\n' "$t" >>results.tsv
t=$(fastest flac -8 -f -s -o long.flac long.wav)
echo "| flac -8 | $t | $(stat -c %s long.flac) |"
printf 'time\tflac\t%s\n' "$t" >>results.tsv
t=$(fastest oggenc -Q -b 64 -o long.ogg long.wav)
echo "| oggenc -b 64 | $t | $(stat -c %s long.ogg) |"
echo
python3 "$bench/quality_targets.py" results.tsv
echo
python3 "$bench/hard_signals.py" "$encoder" "$decoder" hard "${make_stream[@]}"
echo
echo "### -q 0 to 10 on the files above (SNR in dB over the whole file; ↓ where it falls below an"
echo "earlier point's; the geometry, levels and rows, where it changes)"
echo
python3 "$bench/hard_signals.py" --quality-table "$encoder" "$decoder" qualities \
    $(for n in $all_files recordings; do echo "$PWD/$n.wav"; done)
echo
/usr/bin/python3 "$bench/speech_checks.py" "$encoder" "$decoder" speech "${SPEECH_SLICES:-200}"
echo
echo "## Many small files: -j 1 against -j 2"
echo
NO_BUILD=1 RUNS=${JOBS_RUNS:-3} bash "$bench/encode_jobs.sh" "$build" "$PWD/jobs"
echo
echo "load average after the runs: $(cat /proc/loadavg)"
