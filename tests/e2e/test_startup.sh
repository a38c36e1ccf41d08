#!/usr/bin/env bash
# With more than one entry in mp3.m3u beside the executable, the player starts the
# first track before its window shows, and the next one follows by itself. Checks
# the caption and what actually reaches the sound server.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

first=$(e2e_tone_mp3 440)
second=$(e2e_tone_mp3 880)
first_seconds=$(soxi -D "$first")
app=$(velmora_prepare)
velmora_write_playlist "$app" "$first" "$second"

e2e_record_start sink
velmora_start "$app"
velmora_wait_window 15
title=$(velmora_title)
[[ $title == "Velmora--$first" ]] \
  || e2e_fail "the window showed with caption '$title', expected 'Velmora--$first'"

# The first track has to end before the caption may move on.
velmora_wait_title "Velmora--$second" "$(awk -v s="$first_seconds" 'BEGIN { printf "%d", s + 10 }')"
sleep 1.5
wav=$(e2e_record_stop sink)

e2e_timeline "$wav" 0.5 >&2
first_at=$(e2e_find_tone "$wav" 440) \
  || e2e_fail "no audible 440 Hz tone (the first track) reached the sink"
second_at=$(e2e_find_tone "$wav" 880 --after "$first_at") \
  || e2e_fail "no audible 880 Hz tone (the second track) after the first one"
e2e_log "first track heard from ${first_at}s, second from ${second_at}s"
