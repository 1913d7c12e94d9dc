# Eight seconds of drums (kick, snare, hi-hat) at $rate Hz, as drums.wav in the current folder:
# sourced by the bench scripts that build their material from it.
make_drums() {
    sox -D -n -r $rate -b 16 -c 1 -e signed-integer kick.wav \
        synth 0.25 sine 120:40 fade 0 0.25 0.22 gain -n -1
    sox -D -n -r $rate -b 16 -c 1 -e signed-integer snare.wav \
        synth 0.2 whitenoise lowpass 5000 synth 0.2 sine mix 190 fade 0 0.2 0.18 gain -n -4
    sox -D -n -r $rate -b 16 -c 1 -e signed-integer hat.wav \
        synth 0.06 whitenoise highpass 7000 fade 0 0.06 0.05 gain -n -12
    # One bar of 2 s: kick on 1 and 3, snare on 2 and 4, hi-hat on every eighth.
    local pieces=()
    for t in 0 1; do pieces+=("|sox kick.wav -p pad $t"); done
    for t in 0.5 1.5; do pieces+=("|sox snare.wav -p pad $t"); done
    for t in 0 0.25 0.5 0.75 1 1.25 1.5 1.75; do pieces+=("|sox hat.wav -p pad $t"); done
    sox -D -m "${pieces[@]}" -b 16 bar.wav trim 0 2 gain -n -1
    sox -D bar.wav drums.wav repeat 4 fade 0.005
    rm kick.wav snare.wav hat.wav bar.wav
}
