#!/usr/bin/env bash
# Sets everything up, builds, and runs the wizard under Wine against the
# project's service on loopback: the 32-bit program under WOW64 where this
# machine executes 32-bit code, otherwise the 64-bit build of the same sources
# (TAMSEL_CONFIG=x64|wow64|win32 chooses).
# Without a usable X display it walks through the wizard by itself on a
# virtual display, accepting every offer, and saves a screenshot of each page
# in build/demo/; then it walks the installer build with the BT classic pages
# in English and in Spanish (build/demo/installer-en, installer-es). With a
# display the wizard stays open for you.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"

interactive=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi
# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
# shellcheck source=service-env.sh
source "$ROOT/scripts/service-env.sh"
if [ -n "${TAMSEL_CONFIG:-}" ]; then
  config=$TAMSEL_CONFIG why="chosen by TAMSEL_CONFIG"
elif tamsel_can_run_32bit; then
  config=wow64 why=$TAMSEL_32BIT_NOTE
else
  config=x64 why=$TAMSEL_32BIT_NOTE
fi
case "$config" in
  x64) echo "[demo] the 64-bit build of the wizard (x64): $why" ;;
  wow64) echo "[demo] the 32-bit wizard in a 64-bit Windows prefix (wow64)" ;;
  win32) echo "[demo] the 32-bit wizard in a 32-bit Windows prefix (win32)" ;;
  *) echo "[demo] unknown configuration '$config' (known: $TAMSEL_ALL_CONFIGS)" >&2; exit 2 ;;
esac
tamsel_use_config "$config"
tamsel_start_display
cleanup() {
  tamsel_stop_service
  tamsel_stop_wine
}
trap cleanup EXIT
tamsel_start_wine
tamsel_trust_ca
# The product is a few MiB: paced, its download can be watched. The report
# page is the publisher's view of what the walks below send.
report_token="$TAMSEL_BUILD/service/demo-report-token"
[ -s "$report_token" ] || (umask 077 && head -c 24 /dev/urandom | base64 | tr -d '/+=' >"$report_token")
TAMSEL_SERVICE_FILES_RATE=1024 TAMSEL_SERVICE_DB="$TAMSEL_BUILD/service/demo-events.sqlite" \
  TAMSEL_SERVICE_REPORT_TOKEN_FILE="$report_token" tamsel_start_service
echo "[demo] service: https://localhost (log: $TAMSEL_BUILD/service/service.log)"

tree=$(tamsel_config_tree "$config")
run() { "$ROOT/scripts/wine-run.sh" --config "$config" "$@"; }
ctl() { run "$tree/tools/wizardctl.exe" "$@"; }
run "$tree/tamsel.exe" &
wizard=$!
ctl wait Setup 60

if [ "$interactive" -eq 1 ]; then
  echo "[demo] the wizard is open on $DISPLAY; close it to end the demo"
  wait "$wizard" || true
  exit 0
fi

shots="$TAMSEL_BUILD/demo"
rm -rf "$shots"
mkdir -p "$shots"
n=0
shot() {
  n=$((n + 1))
  sleep 0.7  # let the page paint
  xwd -root -silent | convert xwd:- -trim +repage "$shots/$(printf '%02d' "$n")-$1.png"
}
# Control ids of the pages (resources/resource.h).
NEXT=1010 WELCOME_TITLE=1017 ACCEPT=1021 FINISH=1028 PROGRESS=1043
markers="$WINEPREFIX/drive_c/ProgramData/TamselDemo"
rm -rf "$markers"

shot language
ctl click Setup $NEXT
sleep 0.2
shot loading
if ! ctl page Setup $WELCOME_TITLE 60; then
  shot error
  echo "[demo] the wizard did not reach its welcome page; see $shots" >&2
  exit 1
fi
shot welcome
ctl click Setup $NEXT
# After each page: another offer, or the download page, which starts by itself.
offers=0 downloading=0
for _ in $(seq 1 100); do
  if ctl page Setup $PROGRESS 0 2>/dev/null; then
    downloading=1
    break
  fi
  if ctl page Setup $ACCEPT 0 2>/dev/null; then
    offers=$((offers + 1))
    shot "offer-$offers"
    ctl click Setup $ACCEPT
  fi
  if ctl page Setup $FINISH 0 2>/dev/null; then break; fi
done
if [ "$downloading" -eq 1 ]; then shot download; fi
if ! ctl page Setup $FINISH 180; then
  shot error
  echo "[demo] the wizard did not reach its finish page; see $shots" >&2
  exit 1
fi
shot finish
# Each demo installer leaves a marker when it has run.
installed=0
for _ in $(seq 1 100); do
  installed=$(find "$markers" -name '*.installed' 2>/dev/null | wc -l)
  [ "$installed" -ge "$offers" ] && break
  sleep 0.2
done
echo "[demo] offer installers that ran: $installed of $offers ($(cd "$markers" 2>/dev/null && ls | tr '\n' ' '))"
ctl click Setup $FINISH
wait "$wizard" || true
# Finish opens the downloaded product, itself a demo installer.
for _ in $(seq 1 100); do
  [ -f "$markers/app.installed" ] && break
  sleep 0.2
done
if [ -f "$markers/app.installed" ]; then
  echo "[demo] the product was downloaded and opened from the finish page"
else
  echo "[demo] the product did not open from the finish page" >&2
fi
cp "$shots/01-language.png" "$TAMSEL_BUILD/wizard.png"
echo "[demo] $offers offers accepted; screenshots: $shots"
if [ "$installed" -lt "$offers" ] || [ ! -f "$markers/app.installed" ]; then exit 1; fi

# The installer build with the BT classic pages (the one the wizard tests
# drive), once in English and once in Spanish: its language page shows no
# list, so the language is the user's, which Wine takes from LANG.
WARNING_TITLE=1052 LICENSE_TITLE=1019 AGREE=1050 OPTIONS_TITLE=1055 CONFIGURATIONS_TITLE=1059 LAUNCH_CHECK=1044
installer_walk() {
  local lang=$1 title="Harlix "
  shots="$TAMSEL_BUILD/demo/installer-${lang%%_*}"
  n=0
  mkdir -p "$shots"
  rm -rf "$markers"
  LANG=$lang run "$tree/tests/wizard/tamsel_isv_bt.exe" &
  wizard=$!
  ctl wait "$title" 60
  shot language
  ctl click "$title" $NEXT
  sleep 0.2
  shot loading
  local page
  for page in "warning:$WARNING_TITLE:$NEXT" "licence:$LICENSE_TITLE:$AGREE"; do
    IFS=: read -r name id button <<<"$page"
    if ! ctl page "$title" "$id" 60; then
      shot error
      echo "[demo] the installer did not reach its $name page; see $shots" >&2
      return 1
    fi
    shot "$name"
    ctl click "$title" "$button"
  done
  offers=0
  while ! ctl page "$title" $OPTIONS_TITLE 0 2>/dev/null; do
    if ctl page "$title" $ACCEPT 0 2>/dev/null; then
      offers=$((offers + 1))
      shot "offer-$offers"
      ctl click "$title" $ACCEPT
    fi
    [ "$offers" -le 10 ] || return 1
  done
  shot options
  ctl click "$title" $NEXT
  ctl page "$title" $CONFIGURATIONS_TITLE 30
  shot configurations
  ctl click "$title" $NEXT
  if ctl page "$title" $PROGRESS 5 2>/dev/null; then shot install; fi
  if ! ctl page "$title" $LAUNCH_CHECK 180; then
    shot error
    echo "[demo] the installer did not reach its finish page; see $shots" >&2
    return 1
  fi
  shot finish
  ctl click "$title" $FINISH
  wait "$wizard" || true
  for _ in $(seq 1 100); do
    [ -f "$markers/app.launched" ] && break
    sleep 0.2
  done
  echo "[demo] installer ($lang): $offers offers accepted; main installer ran as:" \
    "$(tr -d '\r\n' <"$markers/app.installed" 2>/dev/null)"
  [ -f "$markers/app.launched" ] || { echo "[demo] the installed program did not start" >&2; return 1; }
  echo "[demo] the finish page started the installed program; screenshots: $shots"
}
installer_walk en_US.UTF-8
installer_walk es_ES.UTF-8

# Every page on one sheet: a row for the download manager's walk, then one
# for the installer's in English and one in Spanish, pages in walk order.
demo="$TAMSEL_BUILD/demo"
rows=()
for walk in "$demo" "$demo/installer-en" "$demo/installer-es"; do
  row="$demo/.row-${#rows[@]}.png"
  montage "$walk"/[0-9]*.png -tile x1 -geometry 300x+4+4 "$row"
  rows+=("$row")
done
convert "${rows[@]}" -background white -gravity west -append +repage "$demo/contact-sheet.png"
rm -f "${rows[@]}"
# Wine may link the folder to the home folder.
downloads=$(find -L "$WINEPREFIX/drive_c/users" -maxdepth 2 -name Downloads -type d 2>/dev/null | head -1)
[ -z "$downloads" ] || downloads=$(readlink -f "$downloads")
echo "[demo] every page on one sheet: $demo/contact-sheet.png"
echo "[demo] the downloaded product: $downloads"
echo "[demo] what the installers left: $markers"
echo "[demo] what the service stored: $TAMSEL_BUILD/native/tamsel-service report --db $TAMSEL_BUILD/service/demo-events.sqlite"
# The publisher's report page as headless Chromium shows it (the token as the
# password of HTTP Basic authentication; the demo's certificate is its own).
if command -v chromium >/dev/null 2>&1 &&
  timeout 60 chromium --headless --no-sandbox --disable-gpu --ignore-certificate-errors --window-size=1100,2400 \
    --screenshot="$demo/report.png" "https://publisher:$(cat "$report_token")@localhost/report" >/dev/null 2>&1; then
  echo "[demo] the report page: $demo/report.png (https://localhost/report, token in $report_token)"
fi
