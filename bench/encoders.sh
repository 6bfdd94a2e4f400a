#!/usr/bin/env bash
# The coders against Python's C-backed binascii and urllib.parse on the same
# 64 MiB of data in the same run: base64 encode and decode, quoted-printable
# encode, form URL decoding. Each job runs in alternating rounds (ours, then
# the peer) so that both meet the same machine load; the best time of each
# counts. Prints the ratio peer time / our time (above 1: we are faster).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${SCRIPTNET_BUILD_DIR:-$src/build}
size_mib=${ENCODERS_BENCH_MIB:-64}
rounds=${ENCODERS_BENCH_ROUNDS:-3}
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target encoders_bench -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" "$size_mib" "$rounds" "$build/bench/encoders_bench" <<'EOF'
import base64, binascii, random, subprocess, sys, time, urllib.parse
work, mib, rounds, driver = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
size = mib << 20
rng = random.Random(2026)
binary = rng.randbytes(size)
open(f"{work}/binary.bin", "wb").write(binary)
flat = binascii.b2a_base64(binary, newline=False)
open(f"{work}/base64-flat.txt", "wb").write(flat)
# A MIME body: 76-character lines ending in CR LF.
lines = b"\r\n".join(flat[i:i + 76] for i in range(0, len(flat), 76)) + b"\r\n"
open(f"{work}/base64.txt", "wb").write(lines)
# Mail-like text: words, accented Latin-1 letters, "=" signs, tabs, lines of any length.
words = [b"the", b"quick", b"brown", b"fox", b"jumps", b"over", b"lazy", b"dog", b"caf\xe9",
         b"na\xefve", b"a=b", b"x", b"Stra\xdfe", b"data", b"value", b"\t", b"50%", b"&", b"+"]
parts, n = [], 0
while n < size:
    line = b" ".join(rng.choice(words) for _ in range(rng.randint(3, 30)))
    parts.append(line)
    n += len(line) + 2
text = b"\r\n".join(parts)[:size]
open(f"{work}/text.txt", "wb").write(text)
# The same text as a browser sends it in a form.
form = urllib.parse.quote_plus(text).encode("ascii")
open(f"{work}/form.txt", "wb").write(form)
assert binascii.a2b_base64(lines) == binary
assert urllib.parse.unquote_to_bytes(form.replace(b"+", b" ")) == text

peers = {
    "base64-encode": ("binascii.b2a_base64", lambda: binascii.b2a_base64(binary, newline=False)),
    "base64-encode-lines": ("base64.encodebytes", lambda: base64.encodebytes(binary)),
    "base64-decode": ("binascii.a2b_base64", lambda: binascii.a2b_base64(lines)),
    "qp-encode": ("binascii.b2a_qp", lambda: binascii.b2a_qp(text)),
    "url-decode": ("urllib.parse.unquote_to_bytes", lambda: urllib.parse.unquote_to_bytes(form.replace(b"+", b" "))),
}
print(f"{mib} MiB each; best of {rounds} alternating rounds; ratio = peer / scriptnet (above 1: scriptnet is faster)")
print(f"{'job':22} {'scriptnet s':>11} {'peer s':>9} {'ratio':>7}  peer")
slower = []
for job, (name, peer) in peers.items():
    ours_best = peer_best = 1e30
    for _ in range(rounds):
        out = subprocess.run([driver, work, job], check=True, capture_output=True, text=True).stdout
        ours_best = min(ours_best, float(out))
        start = time.perf_counter()
        peer()
        peer_best = min(peer_best, time.perf_counter() - start)
    ratio = peer_best / ours_best
    print(f"{job:22} {ours_best:11.4f} {peer_best:9.4f} {ratio:7.2f}  {name}", flush=True)
    if ratio < 1:
        slower.append(job)
if slower:
    print("slower than the peer:", ", ".join(slower))
EOF
