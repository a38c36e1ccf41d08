#!/usr/bin/env bash
# Velmora as a desktop installs it: `cmake --install` into a private prefix gives files
# that the freedesktop validators accept and icons at every size, `cpack -G DEB` a
# package with those files and its dependencies. The installed program, started by
# the desktop entry's Exec line with an MP3, plays it; a second launch with another
# MP3 hands it over and ends (one sound at the sink, the new track on top and heard);
# a bare second launch brings the hidden window back.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

build=$(dirname -- "$VELMORA_BINARY")
prefix=$VELMORA_E2E_DIR/prefix
for tool in cmake cpack dpkg-deb desktop-file-validate appstreamcli identify; do
  command -v "$tool" >/dev/null || e2e_fail "$tool is missing: install the test dependencies with scripts/deps.sh"
done

# ---- installed files
cmake --install "$build" --prefix "$prefix" >"$VELMORA_E2E_DIR/install.log" || e2e_fail "cmake --install failed"
desktop=$prefix/share/applications/velmora.desktop
metainfo=$prefix/share/metainfo/org.velmora.Velmora.metainfo.xml
desktop-file-validate "$desktop" >&2 || e2e_fail "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net "$metainfo" >&2 || e2e_fail "appstreamcli rejects $metainfo"
for size in 16 22 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x$size/apps/velmora.png
  [[ $(identify -format '%wx%h' "$icon" 2>/dev/null) == "${size}x$size" ]] || e2e_fail "no ${size}px icon at $icon"
done
[[ -s $prefix/share/icons/hicolor/scalable/apps/velmora.svg ]] || e2e_fail "no scalable icon"
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)

# ---- the Debian package holds the same files and names what they need
cpack -G DEB -B "$VELMORA_E2E_DIR/package" --config "$build/CPackConfig.cmake" >"$VELMORA_E2E_DIR/cpack.log" 2>&1 \
  || { cat "$VELMORA_E2E_DIR/cpack.log" >&2; e2e_fail "cpack -G DEB failed"; }
deb=$(ls "$VELMORA_E2E_DIR"/package/velmora_*.deb)
packaged=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' | sort)
[[ $packaged == "$installed" ]] || e2e_fail "the package holds
$packaged
but cmake --install installs
$installed"
depends=$(dpkg-deb --field "$deb" Depends)
for needed in libqt6widgets6 libqt6dbus6 libmpg123-0 libout123-0 libtag1v5 mpg123 qt6-qpa-plugins qt6-translations-l10n fonts-wqy-microhei; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || e2e_fail "Depends lacks $needed: $depends"
done
e2e_log "package: $(basename -- "$deb"), Depends: $depends"

# ---- lintian finds neither errors nor warnings in the package (copyright, changelog,
# manual pages, maintainer, description); its notes (hardening and such) are only shown
command -v lintian >/dev/null || e2e_fail "lintian is missing: install the test dependencies with scripts/deps.sh"
lintian --fail-on error,warning --display-info "$deb" >"$VELMORA_E2E_DIR/lintian.log" 2>&1 \
  || { cat "$VELMORA_E2E_DIR/lintian.log" >&2; e2e_fail "lintian rejects $(basename -- "$deb")"; }
e2e_log "lintian: no errors or warnings; notes: $(sed -n 's/^I: velmora: //p' "$VELMORA_E2E_DIR/lintian.log" | paste -sd ';')"

# ---- launched as the menu launches it
first=$(e2e_tone_mp3 440)
second=$(e2e_tone_mp3 880)
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[[ $exec_line == "velmora %F" ]] || e2e_fail "Exec line is '$exec_line'"
export PATH=$prefix/bin:$PATH
e2e_a11y_on
e2e_record_start first
VELMORA_DIR=$VELMORA_E2E_DIR
# shellcheck disable=SC2086 # the Exec line is split into words as a launcher splits it
${exec_line/\%F/$first} >"$VELMORA_DIR/velmora.log" 2>&1 </dev/null &
VELMORA_PID=$!
velmora_wait_window 15
velmora_wait_title "Velmora--$first"
# The caption names the track as it opens; the sound follows once the output is up.
velmora_wait_frame 20 >/dev/null
sleep 0.5
e2e_find_tone "$(e2e_record_stop first)" 440 >/dev/null || e2e_fail "the track given on the Exec line is not heard"
[[ $(xprop -id "$VELMORA_WINDOW" WM_CLASS) == *'"velmora"' ]] \
  || e2e_fail "WM_CLASS $(xprop -id "$VELMORA_WINDOW" WM_CLASS) does not match StartupWMClass"

# ---- a second launch hands its file over and ends
e2e_record_start second
started=$EPOCHREALTIME
timeout 5 velmora "$second" >"$VELMORA_E2E_DIR/second.log" 2>&1 </dev/null || e2e_fail "the second launch failed: $(cat "$VELMORA_E2E_DIR/second.log")"
took=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
awk -v t="$took" 'BEGIN { exit !(t < 1) }' || e2e_fail "the second launch took ${took}s to end"
velmora_wait_title "Velmora--$second"
velmora_alive || e2e_fail "the first Velmora went away"
sleep 1.5
e2e_find_tone "$(e2e_record_stop second)" 880 >/dev/null || e2e_fail "the handed-over track is not heard"
streams=$(pactl list short sink-inputs | wc -l)
((streams == 1)) || e2e_fail "$streams streams at the sink: $(pactl list short sink-inputs)"
items=$(velmora_list_items)
top=${items%%$'\n'*}
[[ $top == "tone_880.mp3"*"($second)" ]] || e2e_fail "the first entry is '$top'"
icons=$(xwininfo -tree -id "$(xdotool search --name '^panel$' | head -n 1)" | grep -c '"velmora"' || true)
((icons == 1)) || e2e_fail "$icons tray icons"
e2e_log "second launch ended after ${took}s; one stream; top entry: $top"

# ---- a bare launch brings the hidden window back
e2e_window_manager
sleep 0.5
e2e_minimise "$VELMORA_WINDOW"
timeout 5 velmora >>"$VELMORA_E2E_DIR/second.log" 2>&1 </dev/null || e2e_fail "the bare second launch failed"
e2e_wait_viewable "$VELMORA_WINDOW" "a bare second launch did not show the hidden window"
velmora_alive || e2e_fail "the first Velmora went away"
e2e_log "hidden window shown again by a bare launch"

# ==== without a display, and one Velmora per automatic list ====
for option in --help --version; do
  env -u DISPLAY -u QT_QPA_PLATFORM velmora $option >/dev/null 2>&1 </dev/null || e2e_fail "velmora $option needs a display"
done
# A copy in another folder plays its own list beside the first, under an MPRIS name of
# its own; off the accessibility bus, where it would hold up every reading once stopped.
other=$(velmora_prepare)
velmora_write_playlist "$other" "$(e2e_tone_mp3 660)" "$(e2e_tone_mp3 440)"
env -u QT_LINUX_ACCESSIBILITY_ALWAYS_ON "$other/velmora" >"$VELMORA_E2E_DIR/other.log" 2>&1 </dev/null &
other_pid=$!
both=$(printf '%s\n' "$VELMORA_PID" "$other_pid" | sort | xargs)
sink_pids() { pactl list sink-inputs | sed -n 's/.*application\.process\.id = "\([0-9]*\)".*/\1/p' | sort | xargs; }
for _ in $(seq 100); do [[ $(sink_pids) == "$both" ]] && break || sleep 0.1; done
[[ $(sink_pids) == "$both" ]] || e2e_fail "sink inputs of '$(sink_pids)', not of both players ($both)"
[[ $(playerctl -p "velmora.instance$other_pid" metadata xesam:url) == "file://$(e2e_tone_mp3 660)" ]] \
  || e2e_fail "the copy's MPRIS name or track: $(playerctl -l 2>&1)"
# A launch of that copy while it is stopped runs by itself and says why.
velmora_stop
kill -STOP "$other_pid"
velmora_start "$other"
e2e_a11y wait-app 15
report='另一个 Velmora 没有响应，已单独启动'
for _ in $(seq 50); do grep -qxF "$report" <<<"$(e2e_a11y showing label)" && break || sleep 0.1; done
grep -qxF "$report" <<<"$(e2e_a11y showing label)" || e2e_fail "no report of the stopped Velmora: $(e2e_a11y showing label)"
[[ $(e2e_a11y showing frame) == Velmora* ]] || e2e_fail "the launch beside a stopped Velmora shows no window"
kill -CONT "$other_pid"
kill -TERM "$other_pid"
e2e_log "a copy elsewhere plays beside the first; a launch beside a stopped one runs and reports it"
