#!/usr/bin/env bash
# Makes Quillet's packages with CPack and checks them.
#
#   scripts/package.sh deb [--build-dir DIR] [--out DIR]   the Debian package, from the Linux build in DIR
#                                                          (default $QUILLET_BUILD_DIR or build/), into DIR/package
#   scripts/package.sh zip [--build-dir DIR] [--out DIR]   the portable Windows zip, cross-built into DIR (default
#                                                          build-win/) with the Windows SDK of scripts/windows-sdk.sh
#
# deb builds quillet, quillet-cli and quillet-guardian, makes quillet_<version>_amd64.deb and checks it: the files it
# holds, its dependencies, and its desktop entry and AppStream metadata with desktop-file-validate and
# appstreamcli validate. (Installing it, `sudo apt-get install ./quillet_*.deb`, is left to the person.) zip checks
# that the programs, DLLs, plugin, translation and read-me are in it. The CTest package_deb runs the deb part.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-}
shift || true
build="" out=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "package.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

status=0
# check TEXT COMMAND...: one line, ok when the command succeeds.
check() {
    local text=$1
    shift
    if "$@"; then echo "ok   $text"; else echo "FAIL $text"; status=1; fi
}

case "$kind" in
deb)
    build=$(realpath -m "${build:-${QUILLET_BUILD_DIR:-$root/build}}")
    out=$(realpath -m "${out:-$build/package}")
    "$root/scripts/install-deps.sh" run package
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" --target quillet quillet-cli quillet-guardian
    rm -rf "$out"
    (cd "$build" && cpack -G DEB -B "$out" >"$out.log" 2>&1) || {
        cat "$out.log" >&2
        exit 1
    }
    deb=$(ls "$out"/quillet_*.deb)
    echo "== $deb ($(($(stat -c %s "$deb") / 1024)) KiB)"
    contents=$out/contents
    dpkg-deb -x "$deb" "$contents"
    files=$(dpkg-deb -c "$deb" | awk '{print $6}')
    for f in usr/bin/quillet usr/bin/quillet-cli usr/bin/quillet-cli-display usr/bin/quillet-guardian \
        usr/share/applications/org.example.quillet.desktop usr/share/metainfo/org.example.quillet.metainfo.xml \
        usr/share/icons/hicolor/48x48/apps/org.example.quillet.png \
        usr/share/icons/hicolor/256x256/apps/org.example.quillet.png; do
        check "holds /$f" grep -qx "\./$f" <<<"$files"
    done
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "     Depends: $depends"
    for p in libqt6widgets6 libqt6gui6 libqt6core6 libopencv-imgproc libpng16 libjpeg62-turbo libx11-6 libxtst6 libxi6 \
        libc6 qt6-qpa-plugins fonts-nanum; do
        check "depends on $p" grep -q "$p" <<<"$depends"
    done
    # The picture reader is our own: OpenCV's codec module (and GDAL, poppler, HDF5 behind it) is not needed.
    check "does not depend on OpenCV's codecs" bash -c '! grep -q imgcodec <<<"$1"' _ "$depends"
    check "desktop-file-validate passes" \
        desktop-file-validate "$contents/usr/share/applications/org.example.quillet.desktop"
    check "appstreamcli validate passes" \
        appstreamcli validate --no-net "$contents/usr/share/metainfo/org.example.quillet.metainfo.xml"
    ;;
zip)
    build=$(realpath -m "${build:-$root/build-win}")
    out=$(realpath -m "${out:-$build/package}")
    sdk=${QUILLET_WINDOWS_SDK:-$HOME/.cache/quillet-windows-sdk}
    if [ ! -f "$sdk/stamp" ]; then
        echo "package.sh: the Windows SDK is not built in $sdk; build it once (about an hour) with:" >&2
        echo "    nice -n 19 $root/scripts/windows-sdk.sh" >&2
        exit 1
    fi
    "$root/scripts/install-deps.sh" run cross
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCH=OFF -DQUILLET_BUILD_FUZZ=OFF \
        -DQUILLET_WINDOWS_SDK="$sdk" >/dev/null
    cmake --build "$build"
    rm -rf "$out"
    (cd "$build" && cpack -G ZIP -B "$out" >"$out.log" 2>&1) || {
        cat "$out.log" >&2
        exit 1
    }
    zip=$(ls "$out"/quillet-*-windows-x64.zip)
    echo "== $zip ($(($(stat -c %s "$zip") / 1024)) KiB)"
    files=$(cmake -E tar tf "$zip")
    for f in quillet.exe quillet-cli.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll qt.conf \
        translations/qtbase_ko.qm README.txt; do
        check "holds $f" grep -q "/$f\$" <<<"$files"
    done
    check "holds the OpenCV DLLs" grep -q "/libopencv_imgproc[0-9]*\.dll\$" <<<"$files"
    check "does not hold OpenCV's codecs" bash -c '! grep -q "libopencv_imgcodecs" <<<"$1"' _ "$files"
    # Every DLL a program, DLL or plugin of the zip imports is in the zip or is part of Windows.
    unpacked=$out/unpacked
    mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "$zip")
    system='^(kernel32|user32|gdi32|imm32|winmm|shell32|ole32|oleaut32|advapi32|comdlg32|comctl32|ws2_32|uxtheme|dwmapi'
    system+='|version|msvcrt|shlwapi|setupapi|wtsapi32|opengl32|dwrite|d2d1|d3d9|d3d11|dxgi|netapi32|userenv|mpr|authz'
    system+='|crypt32|bcrypt|ntdll|shcore|winspool\.drv|api-ms-win-.*)(\.dll)?$'
    missing=""
    while IFS= read -r -d '' binary; do
        for dll in $(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
            lower=${dll,,}
            if ! grep -Eq "$system" <<<"$lower" && [ -z "$(find "$unpacked" -iname "$dll" | head -n1)" ]; then
                missing+=" $(basename "$binary")->$dll"
            fi
        done
    done < <(find "$unpacked" \( -iname '*.exe' -o -iname '*.dll' \) -print0)
    check "every DLL the programs and plugins import is in the zip or part of Windows${missing:+ (missing:$missing)}" \
        test -z "$missing"
    ;;
*)
    echo "usage: package.sh deb|zip [--build-dir DIR] [--out DIR]" >&2
    exit 2
    ;;
esac
echo "== $([ $status -eq 0 ] && echo passed || echo FAILED)"
exit $status
