#!/usr/bin/env bash
# Writes the seed corpus of the firmware fuzz harnesses: files written by srec_cat (Debian's
# srecord) in the subsets the decoders read, plus a few hand-made records at their edges.
# Also the seeds of the set-file and record-line readers.
# Usage: make_fuzz_corpus.sh OUT_DIR   (creates OUT_DIR/intel_hex, srecords, sets and records)
set -euo pipefail
out=${1:?usage: make_fuzz_corpus.sh OUT_DIR}
command -v srec_cat >/dev/null || { echo "make_fuzz_corpus: srec_cat is missing (srecord)" >&2; exit 1; }
hex="$out/intel_hex"
mot="$out/srecords"
sets="$out/sets"
records="$out/records"
rm -rf "$hex" "$mot" "$sets" "$records"
mkdir -p "$hex" "$mot" "$sets" "$records"

s2() {  # s2 NAME START BLOCK LINE-END GENERATORS...
  local name=$1 start=$2 block=$3 eol=$4
  shift 4
  srec_cat "$@" -o "$mot/$name.mot" -motorola -address-length=3 \
    -execution-start-address="$start" -output-block-size="$block" -line-termination="$eol"
}
ihex() {  # ihex NAME BLOCK LINE-END GENERATORS...
  local name=$1 block=$2 eol=$3
  shift 3
  srec_cat "$@" -o "$hex/$name.hex" -intel -address-length=2 \
    -output-block-size="$block" -line-termination="$eol"
}

s2 webc 0x10000 16 crlf -generate 0x10000 0x10080 -repeat-string "WebC firmware "
s2 mod3 0x10001 251 nl -generate 0x10001 0x10200 -repeat-string "Mod3 folding " \
  -generate 0x10300 0x10301 -constant 0x7E
s2 can 0 32 crlf -generate 0 0x40 -repeat-data 0x43 0x41 0x4E 0x00 0xFF \
  -generate 0x1FFC0 0x20000 -constant 0x55
s2 tiny 0x123456 1 nl -generate 0x123456 0x12345A -repeat-string "Mod0"

ihex main 32 crlf -generate 0 0x60 -repeat-data 1 2 3 250 -generate 0x100 0x120 -constant 0x41
ihex top 255 nl -generate 0xFF00 0x10000 -repeat-data 0x12 0x34 0x56
ihex single 1 crlf -generate 0x8000 0x8004 -repeat-string "WebC"

# Records at the edges of what the decoders take.
printf ':020000040001F9\n:0100100042AD\n:00000001FF\n' >"$hex/type04.hex"
printf ':04001000abcdef0184:00000001ff' >"$hex/lower.hex"
printf ':0400000001020304F3\n' >"$hex/bad_sum.hex"
printf 'S2080100005765624395\nS205030000AA4D\nS804010000FA\n' >"$mot/out_of_range.mot"
printf 'S2080100005765624395S2030100S804010000FA' >"$mot/short_count.mot"
printf 's208010000576562439\n; S8 in a comment\n' >"$mot/comment.mot"
printf 'S2080100005765624395\0S804010000FA\n' >"$mot/zero_byte.mot"
# Set files: good ones, and those that reached toml++ 3.3's faults (a letter beyond ASCII in a
# table name, a control character).
cat >"$sets/full.toml" <<'TOML'
# a whole machine
[[firmware]]
file = "module3.mot"
controller = "module 3"
sha256 = "00000000000000000000000000000000000000000000000000000000000000ff"

[[firmware]]
file = '/abs/webc.mot'  # literal string
controller = "WebC"
[[firmware]]
file = """main
controller.hex"""
TOML
printf '[[firmware]]\r\nfile = "b\\u00fcro.hex"\r\n"k\xc3\xbc" = 1\r\n' >"$sets/escapes.toml"
printf '[[firmware]]\nfile = 7\n[other]\nx = [1, {a = 2}]\n' >"$sets/wrong_types.toml"
printf '[\xc6\xbd]\n' >"$sets/letter_in_name.toml"
printf '[\x15]\n' >"$sets/control.toml"
printf '[a]\n[ /]\n[[\n]]\n' >"$sets/table_name.toml"  # asserts in toml++ 3.3 too
printf 'a = 0"\xc3\xbc"\n' >"$sets/quote_in_value.toml"  # undefined behaviour in toml++ 3.3
printf 'a=[[}]\n' >"$sets/array_terminator.toml"  # an assumption toml++ 3.3 makes
# Record lines: a whole one, one cut off by a power loss, one with odd values.
printf '%s' '{"time":"2026-12-08T11:51:28Z","program":"loadwing","version":"1.12.0","link":"sim /dev/pts/3","file":"module3.mot","fileSha256":"","sentSha256":"","target":"Module3","bytes":32768,"blocks":128,"blocksAcknowledged":128,"outcome":"completed","status":" flash: completed","verdict":"SUCCES","seconds":{"query":0.1,"blocks":11.2,"verdict":0.3}}' >"$records/whole.json"
printf '%s' '{"time":"2026-' >"$records/cut.json"
printf '%s' '{"time":"","outcome":"x","bytes":-1,"status":"\u0000\ud800","seconds":null}' >"$records/odd.json"
printf '%s' '{"time":"","outcome":"x","blocks":1e99,"seconds":{"query":"1"}}' >"$records/huge.json"
printf '%s' '{"time":"","outcome":"x","seconds":{"query":1e300,"blocks":-1.2}}' >"$records/seconds.json"
echo "make_fuzz_corpus: $(ls "$hex" | wc -l) Intel HEX, $(ls "$mot" | wc -l) S-record, $(ls "$sets" | wc -l) set and $(ls "$records" | wc -l) record seeds in $out"
