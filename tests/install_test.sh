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
#   install_test.sh packages BUILD_DIR VERSION WORKDIR
#       the packages `scripts/install-deps.sh tool` installs on a fresh Debian
#       machine hold every file a configure of the `tool` preset uses: each
#       pkg-config module and package its CMake files ask for (whichever files
#       those are), and each program and library it found. BUILD_DIR and
#       VERSION are not used.
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
    for command in convert analyze raw geometry; do
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
packages)
    source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
    tree=$workdir/tool
    trace=$workdir/trace.json
    if ! cmake -S "$source_dir" --preset tool -B "$tree" --trace-format=json-v1 --trace-expand \
        --trace-redirect="$trace" >"$workdir/configure.log" 2>&1; then
        fail "configuring the tool preset: $(tail -n 20 "$workdir/configure.log")"
    else
        # What the configure used: the .pc file of each pkg-config module and
        # the config file of each package the project's CMake files asked
        # for, and every program and library in its cache.
        files=()
        keywords=" REQUIRED QUIET NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH IMPORTED_TARGET GLOBAL "
        while IFS= read -r call; do
            command=$(sed -E 's/.*"cmd":"([^"]*)".*/\1/' <<<"$call")
            mapfile -t args < <(sed -E 's/.*"args":\[([^]]*)\].*/\1/; s/^"//; s/"$//; s/","/\n/g' <<<"$call")
            if [ "$command" = find_package ]; then
                dir=$(sed -n "s/^${args[0]}_DIR:PATH=//p" "$tree/CMakeCache.txt")
                [ -d "$dir" ] && files+=("$dir"/*[Cc]onfig.cmake)
                continue
            fi
            for module in "${args[@]:1}"; do
                [[ $keywords == *" $module "* ]] && continue
                module=${module%%[<>=]*}
                files+=("$(pkg-config --variable=pcfiledir "$module")/$module.pc")
            done
        done < <(grep -E '"cmd":"(pkg_check_modules|pkg_search_module|find_package)"' "$trace" |
            grep -F "\"file\":\"$source_dir/")
        mapfile -t -O "${#files[@]}" files < <(sed -n 's|^[A-Za-z0-9_]*:FILEPATH=\(/.*\)|\1|p' "$tree/CMakeCache.txt")
        [[ " ${files[*]} " == *" $(pkg-config --variable=pcfiledir libavformat)/libavformat.pc "* ]] ||
            fail "the configure's trace names no libavformat module: [${files[*]}]"

        # What `install-deps.sh tool` installs on a machine that has nothing
        # (apt's answer for an empty package database), and what every Debian
        # system has (the essential and required packages).
        mapfile -t tool_packages < <(bash "$source_dir/scripts/install-deps.sh" --list tool)
        : >"$workdir/empty-status"
        installs=" $(apt-get install -s -qq -o Dir::State::status="$workdir/empty-status" --no-install-recommends \
            "${tool_packages[@]}" 2>"$workdir/apt.log" | awk '$1 == "Inst" { sub(/:.*/, "", $2); print $2 }' |
            paste -sd' ') "
        [ "$installs" != "  " ] || fail "apt cannot install the tool's packages: $(cat "$workdir/apt.log")"
        on_fresh_machine() {
            [[ $installs == *" $1 "* ]] ||
                dpkg-query -W -f='${Essential} ${Priority}\n' "$1" 2>/dev/null | grep -qE '^yes |required$'
        }

        # Each file and each link on the way to it that a package holds must
        # come from one of those packages (/usr/bin/c++ is an alternative: no
        # package holds it, but g++ holds where it leads).
        declare -A chains=() owners=()
        for file in "${files[@]}"; do
            [ -e "$file" ] || continue
            hop=$file
            chains[$file]=$hop
            while [ -L "$hop" ]; do
                target=$(readlink "$hop")
                [[ $target == /* ]] || target=$(dirname "$hop")/$target
                hop=$(realpath -s -m "$target")
                chains[$file]+=" $hop"
            done
        done
        # shellcheck disable=SC2046,SC2068  # system paths, none with a space
        while IFS= read -r line; do
            owners[${line#*: }]=$(tr -d ' ' <<<"${line%%: *}" | tr ',' '\n' | sed 's/:.*//' | paste -sd' ')
        done < <(dpkg-query -S $(printf '%s\n' ${chains[@]} | sort -u) 2>/dev/null | grep -v '^diversion ')
        for file in "${!chains[@]}"; do
            owned=0
            for hop in ${chains[$file]}; do
                [ -n "${owners[$hop]:-}" ] || continue
                owned=1
                provided=0
                for owner in ${owners[$hop]}; do
                    on_fresh_machine "$owner" && provided=1
                done
                if [ "$provided" -eq 0 ]; then
                    used=$hop
                    [ "$hop" = "$file" ] || used="$hop (where $file leads)"
                    fail "the tool's configure uses $used, which is in ${owners[$hop]}; \`install-deps.sh tool\` does not install that: add it to tool_packages"
                    break
                fi
            done
            [ "$owned" -eq 1 ] || fail "no Debian package holds $file, which the tool's configure uses"
        done
    fi
    ;;
*)
    echo "usage: install_test.sh install|deb|packages BUILD_DIR VERSION WORKDIR" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures $mode check(s) failed"
    exit 1
fi
echo "$mode checks passed"
