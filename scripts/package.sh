#!/usr/bin/env bash
# Builds the Debian packages (Release, in build/package) and checks them: installs them into a
# clean Debian 12 root made with debootstrap, starts every program there, builds examples/cpp
# against the installed library (find_package, nothing of the source tree) and runs it, and
# removes them again.
#
# Usage: scripts/package.sh [--no-check] [--fresh-root]
#   --no-check    only build the .deb
#   --fresh-root  make the clean root again instead of using the cached one
# Needs root for the check (debootstrap, chroot). The clean root is cached in
# build/package/debian12-root.tar after the first run; each check unpacks a new copy of it.
# MIRROR=URL chooses the Debian mirror; default: the first bookworm source of apt on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
check=1
fresh=0
for arg; do
    case $arg in
        --no-check) check=0 ;;
        --fresh-root) fresh=1 ;;
        *) echo "usage: scripts/package.sh [--no-check] [--fresh-root]" >&2; exit 2 ;;
    esac
done
step() { printf '\n== %s (%ds)\n' "$*" $((SECONDS - start)); }

step "Installing the build tools"
scripts/setup.sh dpkg-dev debootstrap

step "Building (Release at -O2, unity, build/package)"
build=build/package
# -O2 rather than CMake's -O3: at -O3, GCC 12 warns falsely (-Wrestrict) of overlapping copies
# inside std::string's operator+, and warnings are errors here.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_UNITY_BUILD=ON -DMVX_BUILD_TESTS=OFF -DMVX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j 2

step "Making the .debs (cpack): the programs and the library, and libmovantrix-dev"
rm -f "$build"/movantrix-manager_*.deb "$build"/libmovantrix-dev_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/movantrix-manager_*.deb)
devdeb=$(ls "$build"/libmovantrix-dev_*.deb)
for d in "$deb" "$devdeb"; do
    dpkg-deb --field "$d" Package Version Architecture Section Maintainer Depends
    echo "$d: $(du -h "$d" | cut -f1)"
done

if [ "$check" -eq 0 ]; then
    step "Done"
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "package.sh: the check needs root (debootstrap, chroot); run with --no-check otherwise" >&2
    exit 1
fi

# The mirror: MIRROR, else the first bookworm (not security) source that apt uses here.
mirror=${MIRROR:-}
if [ -z "$mirror" ]; then
    mirror=$(awk '/^URIs:/ {uri=$2} /^Suites:/ && / bookworm( |$)/ && uri !~ /security/ {print uri; exit}' \
        /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
fi
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    mirror=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list)
fi
if [ -z "$mirror" ]; then
    echo "package.sh: no Debian 12 mirror in apt's sources; set MIRROR=URL" >&2
    exit 1
fi

root=$(realpath -m "$build/root")
cache=$build/debian12-root.tar
cleanup() {
    mountpoint -q "$root/proc" && umount "$root/proc"
    rm -rf "$root"
}
trap cleanup EXIT
cleanup
if [ "$fresh" -eq 1 ] || [ ! -f "$cache" ]; then
    step "Making a clean Debian 12 root with debootstrap ($mirror)"
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$build/debootstrap.log" 2>&1 ||
        { tail -20 "$build/debootstrap.log"; exit 1; }
    # The same package sources as this machine (updates and security included).
    rm -f "$root"/etc/apt/sources.list
    cp /etc/apt/sources.list.d/*.sources "$root"/etc/apt/sources.list.d/ 2>/dev/null || true
    [ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$root"/etc/apt/
    rm -rf "$root"/var/cache/apt/archives/*.deb
    tar -C "$root" -cf "$cache" .
else
    step "Unpacking the cached clean root ($cache)"
    mkdir -p "$root"
    tar -C "$root" -xf "$cache"
fi
cp /etc/resolv.conf "$root"/etc/resolv.conf 2>/dev/null || true
mount -t proc proc "$root/proc" 2>/dev/null || true
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

step "Installing the .deb in the clean root (apt-get install ./$(basename "$deb"))"
cp "$deb" "$devdeb" "$root/tmp/"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >"$build/install.log" 2>&1 ||
    { tail -30 "$build/install.log"; exit 1; }
echo "installed, with $(grep -c '^Setting up' "$build/install.log") packages set up"

step "Checking the installed files and starting every program"
for f in /usr/share/applications/io.movantrix.Manager.desktop \
    /usr/share/metainfo/io.movantrix.Manager.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/io.movantrix.Manager.svg \
    /usr/share/icons/hicolor/256x256/apps/io.movantrix.Manager.png \
    /usr/share/man/man1/movantrix-cli.1.gz \
    /usr/share/bash-completion/completions/movantrix-cli \
    /usr/lib/udev/rules.d/60-movantrix-manager.rules /usr/lib/libmovantrix.so.0; do
    [ -f "$root$f" ] || { echo "missing: $f" >&2; exit 1; }
done
for program in movantrix-manager movantrix-manager-sim movantrix-cli movantrix-bus-sim; do
    printf '%-25s ' "$program --version:"
    in_root env QT_QPA_PLATFORM=offscreen "$program" --version
done
in_root movantrix-cli --port sim --sim-virtual-time scan >"$build/scan.txt"
echo "movantrix-cli scan on the simulated bus: $(($(wc -l <"$build/scan.txt") - 1)) device lines"
# The Python module, for the system's python3.
in_root python3 -c 'import movantrix
with movantrix.open("sim", virtual_time=True) as bus:
    print("python3 import movantrix: %d devices on the simulated bus" % len(bus.scan()))'
# The desktop program really comes up (Qt libraries and platform plugin): it runs until killed.
status=0
in_root env QT_QPA_PLATFORM=offscreen timeout 3 movantrix-manager-sim >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || { echo "movantrix-manager-sim ended with $status" >&2; exit 1; }
echo "movantrix-manager-sim ran offscreen until stopped"

step "Building examples/cpp against the installed library (libmovantrix-dev, cmake, g++)"
in_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$devdeb")" cmake g++ make \
    >"$build/install-dev.log" 2>&1 || { tail -30 "$build/install-dev.log"; exit 1; }
rm -rf "$root/tmp/example" && cp -r examples/cpp "$root/tmp/example"
in_root cmake -S /tmp/example -B /tmp/example/build -DCMAKE_BUILD_TYPE=Release \
    >"$build/example.log" 2>&1 || { tail -30 "$build/example.log"; exit 1; }
in_root cmake --build /tmp/example/build >>"$build/example.log" 2>&1 ||
    { tail -30 "$build/example.log"; exit 1; }
in_root /tmp/example/build/movantrix-example sim >"$build/example.txt"
grep -q '^goal-position 512$' "$build/example.txt" ||
    { cat "$build/example.txt"; echo "the example did not run as it should" >&2; exit 1; }
echo "examples/cpp built with find_package(Movantrix) and ran: $(wc -l <"$build/example.txt") lines"
for f in /usr/lib/pkgconfig/movantrix.pc /usr/lib/cmake/Movantrix/MovantrixConfigVersion.cmake; do
    [ -f "$root$f" ] || { echo "missing: $f" >&2; exit 1; }
done

step "Removing the packages"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq libmovantrix-dev movantrix-manager \
    >"$build/purge.log" 2>&1 || { cat "$build/purge.log"; exit 1; }
[ ! -e "$root/usr/bin/movantrix-cli" ] || { echo "purge left /usr/bin/movantrix-cli" >&2; exit 1; }
[ ! -e "$root/usr/include/movantrix/movantrix.h" ] ||
    { echo "purge left /usr/include/movantrix" >&2; exit 1; }

step "Done: $deb checked"
