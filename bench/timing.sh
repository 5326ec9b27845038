# Sourced by the benchmarks: wall time of one command and the best of several.

# Wall time of one command, in seconds, process start included; its output is dropped.
seconds() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo $((end - start)) | awk '{ printf "%.6f", $1 / 1e9 }'
}

# The smaller of two times; the first may be empty.
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
