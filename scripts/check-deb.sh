#!/usr/bin/env bash
# Builds the Debian package and checks it on a fresh Debian 12: installs it
# in a minimal root made with debootstrap, reads every manual page with man,
# and runs every example of the README and of the manual pages exactly as
# written, comparing what it prints (times and rates aside).
# Not run in CI: it needs root and Debian's archive, and takes a few minutes.
#
# Usage: scripts/check-deb.sh [BUILD_DIR]     (default build; as root)
#   the root is kept in BUILD_DIR/chroot and reused by later runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(mkdir -p "${1:-$root/build}" && cd "${1:-$root/build}" && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "check-deb: run as root (debootstrap, chroot)" >&2; exit 2; }
"$root/scripts/setup-debian.sh"
command -v debootstrap > /dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap

note() { echo "check-deb: $*" >&2; }

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j2 --target dict_export dict_build dict_bench dict_header dict_dump sample_dict
(cd "$build" && cpack -G DEB > /dev/null)
deb="$build/tarvo_0.3.1_amd64.deb"
note "built $deb"

jail="$build/chroot"
if [ ! -x "$jail/usr/bin/apt-get" ]; then
  note "making a minimal Debian 12 root in $jail"
  debootstrap --variant=minbase bookworm "$jail" > "$build/debootstrap.log"
fi
mount -t proc proc "$jail/proc"
trap 'umount "$jail/proc"' EXIT
in_jail() { chroot "$jail" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

# man-db only to read the pages; the package itself needs nothing beyond minbase.
in_jail dpkg -r tarvo > /dev/null 2>&1 || true
cp "$deb" "$jail/tmp/tarvo.deb"
in_jail dpkg -i /tmp/tarvo.deb
if ! in_jail sh -c 'command -v man' > /dev/null; then
  in_jail apt-get update -qq
  in_jail env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends man-db > /dev/null
fi
for page in dict_export dict_build dict_bench dict_header dict_dump "5 tarvo"; do
  # shellcheck disable=SC2086
  out=$(in_jail env MANWIDTH=80 man --warnings $page 2>&1 > /dev/null) || { echo "$out"; exit 1; }
  [ -z "$out" ] || { note "man $page: $out"; exit 1; }
done
note "the six manual pages read cleanly with man"

# Each document's examples become one script, run in a scratch folder of its
# own; the README's get the sample dictionary at build/samples/sample.dict.
work="$jail/tmp/examples"
rm -rf "$work"
mkdir -p "$work"
python3 - "$root" "$work" <<'PY'
import re, sys, pathlib
root, work = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])

def unroff(line):
    line = re.sub(r'\\f[BIRP]', '', line)
    for a, b in ((r'\-', '-'), (r'\(aq', "'"), (r'\(dq', '"'), (r'\(ti', '~'), (r'\&', ''), (r'\`', '`'), (r'\e', '\\')):
        line = line.replace(a, b)
    return line

def blocks(path):
    text = path.read_text(encoding='utf-8').split('\n')
    if path.suffix == '.md':
        start, end, clean = re.compile(r'^```'), re.compile(r'^```$'), lambda l: l
    else:
        start, end, clean = re.compile(r'^\.EX$'), re.compile(r'^\.EE$'), unroff
    block = None
    for line in text:
        if block is None:
            if start.match(line):
                block = []
        elif end.match(line):
            yield block
            block = None
        else:
            block.append(clean(line))

for doc in [root / 'README.md'] + sorted((root / 'docs/man').glob('*.[15]')):
    cases = []
    for block in blocks(doc):
        if not block or not block[0].startswith('$ '):
            continue
        for line in block:
            if line.startswith('$ '):
                cases.append((line[2:], []))
            else:
                cases[-1][1].append(line)
    if not cases:
        continue
    folder = work / doc.name
    folder.mkdir()
    with open(folder / 'run.sh', 'w', encoding='utf-8') as script:
        script.write(f'cd /tmp/examples/{doc.name}\nfailed=0\n')
        for n, (command, expected) in enumerate(cases):
            (folder / f'{n}.cmd').write_text(command + '\n', encoding='utf-8')
            (folder / f'{n}.expected').write_text(''.join(l + '\n' for l in expected), encoding='utf-8')
            script.write(f'bash {n}.cmd > {n}.actual 2>&1\n'
                         f'if ! cmp -s <(mask < {n}.expected) <(mask < {n}.actual); then\n'
                         f'  echo "{doc.name}: \\$ $(cat {n}.cmd)"; diff <(mask < {n}.expected) <(mask < {n}.actual); failed=1\n'
                         f'fi\n')
        script.write(f'echo "{doc.name}: {len(cases)} examples"\nexit $failed\n')
PY
# Times and rates change from run to run; everything else must match.
cat > "$work/mask.sh" <<'SH'
# A last line without a line feed (some messages have none) gets one.
mask() { sed -E '/^time: /s/[0-9]+\.[0-9]+|-?inf|-?nan/X/g; s/seconds: [0-9]+\.[0-9]+$/seconds: X/' | sed '$a\'; }
SH
mkdir -p "$work/README.md/build/samples"
cp "$build/samples/sample.dict" "$work/README.md/build/samples/"
status=0
for doc in "$work"/*/; do
  name=$(basename "$doc")
  in_jail env S=build/samples/sample.dict bash -c ". /tmp/examples/mask.sh; . /tmp/examples/$name/run.sh" || status=1
done
[ $status -eq 0 ] && note "the package installs and every example runs as written" || note "some examples differ"
exit $status
