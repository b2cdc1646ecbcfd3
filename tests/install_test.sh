#!/usr/bin/env bash
# What this build tree installs and packages for the command-line tool.
#   install_test.sh install BUILD_DIR VERSION WORKDIR
#       `cmake --install` into an empty prefix puts exactly bin/ocuvex,
#       libexec/ocuvex/ocuvex-media and share/man/man1/ocuvex.1 there; the
#       tool runs from there, names the project's version and finds its
#       FFmpeg helper there (ocuvex itself links no FFmpeg library), and the
#       manual page names it and every option the tool's --help texts list.
#   install_test.sh deb BUILD_DIR VERSION WORKDIR
#       cpack's .deb is named and versioned by the project's version, holds
#       the same three files under /usr and depends on FFmpeg's libraries.
set -u
mode=$1 build_dir=$2 version=$3 workdir=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
rm -rf "$workdir"
mkdir -p "$workdir"

case $mode in
install)
    prefix=$workdir/prefix
    cmake --install "$build_dir" --prefix "$prefix" >"$workdir/install.log" || fail "install: $(cat "$workdir/install.log")"
    listing=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
    [ "$listing" = "./bin/ocuvex ./libexec/ocuvex/ocuvex-media ./share/man/man1/ocuvex.1 " ] ||
        fail "installed [$listing]"
    [ "$("$prefix/bin/ocuvex" --version)" = "ocuvex $version" ] ||
        fail "the installed tool says '$("$prefix/bin/ocuvex" --version)'"
    ! readelf -d "$prefix/bin/ocuvex" | grep -q 'NEEDED.*libav' || fail "bin/ocuvex links FFmpeg's libraries"
    # The helper answers, from the installed tree (a missing INPUT is its own message).
    "$prefix/bin/ocuvex" convert "$workdir/missing.mkv" "$workdir/out.mkv" 2>"$workdir/convert.err"
    status=$?
    [ "$status" -eq 1 ] && grep -q "^ocuvex: cannot read '$workdir/missing.mkv'" "$workdir/convert.err" ||
        fail "the installed convert exited $status: $(cat "$workdir/convert.err")"
    manual=$prefix/share/man/man1/ocuvex.1
    [ "$(head -1 "$manual")" = ".TH OCUVEX 1 \"\" \"ocuvex $version\" \"User Commands\"" ] ||
        fail "the manual page begins '$(head -1 "$manual")'"
    # roff writes a minus sign as \-.
    text=$(sed 's/\\-/-/g' "$manual")
    for command in convert raw geometry; do
        for option in $("$prefix/bin/ocuvex" "$command" --help | grep -o -- ' --*[a-z][a-z-]*' | sort -u); do
            grep -q -- "fB$option\\\\fR" <<<"$text" || fail "the manual page lacks $command's $option"
        done
    done
    ;;
deb)
    cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$workdir" >"$workdir/cpack.log" ||
        fail "cpack: $(cat "$workdir/cpack.log")"
    deb=$workdir/ocuvex_${version}_$(dpkg --print-architecture).deb
    if [ ! -f "$deb" ]; then
        fail "no $(basename "$deb"); cpack made: $(cd "$workdir" && ls -- *.deb 2>/dev/null)"
    else
        [ "$(dpkg-deb -f "$deb" Package Version)" = $'Package: ocuvex\nVersion: '"$version" ] ||
            fail "the package says: $(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')"
        dpkg-deb -f "$deb" Depends | grep -q 'libavcodec' || fail "no dependency on libavcodec"
        files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $NF }' | sort | tr '\n' ' ')
        [ "$files" = "./usr/bin/ocuvex ./usr/libexec/ocuvex/ocuvex-media ./usr/share/man/man1/ocuvex.1 " ] ||
            fail "the package holds [$files]"
    fi
    ;;
*)
    echo "usage: install_test.sh install|deb BUILD_DIR VERSION WORKDIR" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures $mode check(s) failed"
    exit 1
fi
echo "$mode checks passed"
