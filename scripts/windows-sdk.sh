#!/usr/bin/env bash
# Builds the Windows SDK that the cross build of the desktop program needs: Qt 6 (Core, Gui, Widgets and the
# Windows platform plugin), OpenCV 4 (core and imgproc) and the static libpng and libjpeg-turbo our picture reader
# links, from
# Debian's own sources of the suite this machine runs, with the project's mingw-w64 toolchain. Qt's host tools
# (moc, rcc, uic) are Debian's Qt of the same version, so the two must match.
#
#   scripts/windows-sdk.sh            builds into $QUILLET_WINDOWS_SDK (default ~/.cache/quillet-windows-sdk)
#   nice -n 19 scripts/windows-sdk.sh  the same, taking only idle processor time
#
# Once it has finished, the folder holds a stamp with the source versions and this script's hash; run again with
# the same versions and script it does nothing. A build that stopped half-way goes on from the last finished step.
# It takes about an hour on two cores (QUILLET_SDK_JOBS sets the number of parallel jobs, default every core) and
# needs about 6 GB of disk while it runs; the finished SDK is about 400 MB.
# The cross build uses it with -DQUILLET_WINDOWS_SDK=<folder> (scripts/cross-check.sh passes it when it exists).
set -euo pipefail

# The whole script is one function, read before it runs: editing the file while a build runs does not disturb it.
main() {
    root=$(cd "$(dirname "$0")/.." && pwd)
    sdk=${QUILLET_WINDOWS_SDK:-$HOME/.cache/quillet-windows-sdk}
    jobs=${QUILLET_SDK_JOBS:-$(nproc)}
    triple=x86_64-w64-mingw32

    # Qt's sources must be the version of the host tools installed; the others are pinned to the suite's versions.
    "$root/scripts/install-deps.sh" run cross
    qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
    opencv_version=${QUILLET_SDK_OPENCV:-4.6.0+dfsg-12}
    png_version=${QUILLET_SDK_PNG:-1.6.39-2+deb12u5}
    jpeg_version=${QUILLET_SDK_JPEG:-1:2.1.5-2}
    gcc_version=$("$triple-g++-posix" -dumpfullversion)
    versions="qt6-base $qt_version
    opencv $opencv_version
    libpng1.6 $png_version
    libjpeg-turbo $jpeg_version
    $triple-g++-posix $gcc_version"
    stamp_text="$versions
    script $(sha256sum "$0" | cut -d' ' -f1)"

    if [ -f "$sdk/stamp" ] && [ "$(cat "$sdk/stamp")" = "$stamp_text" ]; then
        echo "windows-sdk.sh: $sdk is up to date (Qt $qt_version, OpenCV $opencv_version)"
        exit 0
    fi

    # Each step remembers (in steps/) the options it was installed with: a changed step is built again, the others
    # are kept, and other source versions start everything again. work/ holds sources and build folders until the end.
    work=$sdk/work
    steps_dir=$sdk/steps
    if [ -f "$steps_dir/versions" ] && [ "$(cat "$steps_dir/versions")" != "$versions" ]; then
        echo "windows-sdk.sh: the source versions changed; starting again in $sdk"
        rm -rf "$sdk"
    fi
    mkdir -p "$work" "$steps_dir"
    rm -f "$sdk/stamp"
    printf '%s' "$versions" >"$steps_dir/versions"
    started=$(date +%s)
    step=0 steps=4

    say() { echo "[$(date +%H:%M:%S)] $*"; }
    # done_step NAME OPTIONS...: true when step NAME was finished with these options.
    done_step() {
        local name=$1
        shift
        [ -f "$steps_dir/$name" ] && [ "$(cat "$steps_dir/$name")" = "$*" ]
    }
    # finish_step NAME OPTIONS...
    finish_step() {
        local name=$1
        shift
        printf '%s' "$*" >"$steps_dir/$name"
        say "   $name finished after $((($(date +%s) - started) / 60)) min in all"
    }

    # The build runs with its output in a log; every tenth of the way it prints one line.
    run_logged() {
        local log=$1
        shift
        if ! "$@" 2>&1 | tee -a "$log" | awk '
            /^\[[0-9]+\/[0-9]+\]/ {
                split(substr($1, 2), n, "/")
                p = int(n[1] * 10 / n[2])
                if (p > last) { last = p; printf "      %d%% (%s)\n", p * 10, $1; fflush() }
            }'; then
            say "windows-sdk.sh: failed; the end of $log:"
            tail -n 40 "$log"
            exit 1
        fi
    }

    # Debian's sources need a deb-src entry for the suites the binary packages come from.
    ensure_deb_src() {
        if apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package:'; then return; fi
        say "adding deb-src entries for the installed suites"
        local SUDO=""
        if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
                $SUDO tee /etc/apt/sources.list.d/quillet-deb-src.sources >/dev/null
        else
            grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
                $SUDO tee /etc/apt/sources.list.d/quillet-deb-src.list >/dev/null
        fi
        $SUDO apt-get update -qq
    }

    # Fetches and unpacks one source package (with Debian's patches applied) into $work/<dir>.
    fetch_source() {
        local package=$1 version=$2 dir=$3
        if [ -d "$work/$dir" ]; then return; fi
        ensure_deb_src
        say "   fetching $package $version"
        rm -rf "$work/fetch-$dir"
        mkdir -p "$work/fetch-$dir"
        (cd "$work/fetch-$dir" && apt-get source --download-only -qq "$package=$version" >/dev/null 2>&1) || {
            echo "windows-sdk.sh: apt-get source $package=$version failed" >&2
            exit 1
        }
        dpkg-source -x "$work/fetch-$dir"/*.dsc "$work/$dir" >/dev/null
        rm -rf "$work/fetch-$dir"
    }

    toolchain=$root/cmake/toolchain-mingw-w64.cmake
    # The libraries link the compiler's runtime statically, as the programs do, so no runtime DLL is needed beside them.
    static_runtime="-static-libgcc -static-libstdc++"
    cmake_common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sdk"
        -DQUILLET_WINDOWS_SDK="$sdk"
        -DCMAKE_SHARED_LINKER_FLAGS="$static_runtime" -DCMAKE_MODULE_LINKER_FLAGS="$static_runtime")

    say "windows-sdk.sh: building into $sdk with $jobs jobs"

    # --- Qt ---------------------------------------------------------------------------------------------------------
    step=$((step + 1))
    # Only what the program uses (its pictures are PNG; template images are read by OpenCV). The Windows headers
    # of mingw-w64 lack wintab.h, so no tablet events; rcc compresses with zlib only, so the program's resources
    # are built with --no-zstd.
    qt_options=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
        -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=OFF -DFEATURE_zstd=OFF
        -DFEATURE_tabletevent=OFF -DFEATURE_vulkan=OFF
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF
        -DFEATURE_sql_sqlite=OFF -DFEATURE_glib=OFF -DFEATURE_icu=OFF
        -DFEATURE_direct2d=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF)
    if ! done_step qt "${cmake_common[@]}" "${qt_options[@]}"; then
        say "[$step/$steps] Qt $qt_version: Core, Gui, Widgets, Windows platform plugin (about 40 min on two cores)"
        fetch_source qt6-base "$qt_version" qt-src
        # Qt 6.4's Windows plugin makes the DirectWrite font database whenever DirectWrite 3 is there, but Gui
        # builds that class only together with Direct2D, which is left out here: the plugin then uses GDI fonts.
        sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
            "$work/qt-src/src/plugins/platforms/windows/qwindowsintegration.cpp"
        log=$work/qt.log
        run_logged "$log" cmake -S "$work/qt-src" -B "$work/qt-build" "${cmake_common[@]}" "${qt_options[@]}"
        say "   compiling Qt (log: $log)"
        run_logged "$log" cmake --build "$work/qt-build" -j"$jobs"
        run_logged "$log" cmake --install "$work/qt-build"
        finish_step qt "${cmake_common[@]}" "${qt_options[@]}"
    fi

    # --- the image codecs our picture reader (src/imagefile) links statically ---------------------------------------
    # zlib is Debian's mingw-w64 build (libz-mingw-w64-dev), linked statically; the codecs are built here from their
    # Debian sources.
    zlib_library=/usr/$triple/lib/libz.a
    step=$((step + 1))
    # Its own install-folder logic takes a relative library folder as relative to the working directory.
    jpeg_options=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
        -DCMAKE_INSTALL_LIBDIR="$sdk/lib")
    if ! done_step jpeg "${cmake_common[@]}" "${jpeg_options[@]}"; then
        say "[$step/$steps] libjpeg-turbo $jpeg_version (a minute)"
        fetch_source libjpeg-turbo "$jpeg_version" jpeg-src
        log=$work/jpeg.log
        run_logged "$log" cmake -S "$work/jpeg-src" -B "$work/jpeg-build" "${cmake_common[@]}" "${jpeg_options[@]}"
        run_logged "$log" cmake --build "$work/jpeg-build" -j"$jobs"
        run_logged "$log" cmake --install "$work/jpeg-build"
        finish_step jpeg "${cmake_common[@]}" "${jpeg_options[@]}"
    fi

    step=$((step + 1))
    png_options=(-DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_FRAMEWORK=OFF
        -DZLIB_INCLUDE_DIR=/usr/$triple/include -DZLIB_LIBRARY="$zlib_library" -DCMAKE_INSTALL_LIBDIR=lib)
    if ! done_step png "${cmake_common[@]}" "${png_options[@]}"; then
        say "[$step/$steps] libpng $png_version (a minute)"
        fetch_source libpng1.6 "$png_version" png-src
        log=$work/png.log
        run_logged "$log" cmake -S "$work/png-src" -B "$work/png-build" "${cmake_common[@]}" "${png_options[@]}"
        run_logged "$log" cmake --build "$work/png-build" -j"$jobs"
        run_logged "$log" cmake --install "$work/png-build"
        finish_step png "${cmake_common[@]}" "${png_options[@]}"
    fi

    # --- OpenCV -------------------------------------------------------------------------------------------------------
    step=$((step + 1))
    # core and imgproc only: the programs read template files with their own reader, not OpenCV's codecs. Everything
    # that would download a binary while configuring (IPP, ADE, FFmpeg) is off.
    opencv_options=(-DBUILD_LIST=core,imgproc -DBUILD_SHARED_LIBS=ON
        -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF -DBUILD_opencv_apps=OFF
        -DBUILD_JAVA=OFF -DBUILD_opencv_python2=OFF -DBUILD_opencv_python3=OFF -DBUILD_opencv_js=OFF
        -DBUILD_ZLIB=OFF -DBUILD_PNG=OFF -DBUILD_JPEG=OFF -DBUILD_TIFF=OFF -DBUILD_WEBP=OFF -DBUILD_OPENJPEG=OFF
        -DBUILD_JASPER=OFF -DBUILD_OPENEXR=OFF -DBUILD_PROTOBUF=OFF -DBUILD_ITT=OFF -DBUILD_IPP_IW=OFF
        -DWITH_PNG=OFF -DWITH_JPEG=OFF -DWITH_TIFF=OFF -DWITH_WEBP=OFF -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF
        -DWITH_OPENEXR=OFF -DWITH_GDAL=OFF -DWITH_GDCM=OFF -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_ADE=OFF
        -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF -DWITH_DSHOW=OFF -DWITH_MSMF=OFF -DWITH_OBSENSOR=OFF -DWITH_1394=OFF
        -DWITH_OPENCL=OFF -DWITH_DIRECTX=OFF -DWITH_VA=OFF -DWITH_VA_INTEL=OFF -DWITH_TBB=OFF -DWITH_OPENMP=OFF
        -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF -DWITH_PROTOBUF=OFF -DWITH_QUIRC=OFF -DWITH_VTK=OFF -DWITH_QT=OFF
        -DWITH_GTK=OFF -DWITH_WIN32UI=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF -DOPENCV_ENABLE_NONFREE=OFF
        -DZLIB_INCLUDE_DIR=/usr/$triple/include -DZLIB_LIBRARY="$zlib_library")
    if ! done_step opencv "${cmake_common[@]}" "${opencv_options[@]}"; then
        say "[$step/$steps] OpenCV $opencv_version: core, imgproc (about 8 min on two cores)"
        fetch_source opencv "$opencv_version" opencv-src
        log=$work/opencv.log
        run_logged "$log" cmake -S "$work/opencv-src" -B "$work/opencv-build" "${cmake_common[@]}" \
            "${opencv_options[@]}"
        say "   compiling OpenCV (log: $log)"
        run_logged "$log" cmake --build "$work/opencv-build" -j"$jobs"
        run_logged "$log" cmake --install "$work/opencv-build"
        finish_step opencv "${cmake_common[@]}" "${opencv_options[@]}"
    fi

    # The sources and build folders go; what stays is the installed SDK and the stamp that says what it holds.
    rm -rf "$work"
    printf '%s' "$stamp_text" >"$sdk/stamp"
    say "windows-sdk.sh: done in $((($(date +%s) - started) / 60)) min; the SDK is in $sdk ($(du -sh "$sdk" | cut -f1))"
}

main "$@"
exit
