#!/usr/bin/env bash
# The web remote in a real browser: headless Chromium driven by Selenium loads the page from the
# running program, is refused a wrong key, takes the right one, and moves the music slider; the
# program's status shows the new level, it is heard, and it is in the settings file. A change made
# elsewhere reaches the open page over its live connection.
# Usage (under dbus-run-session): [SERVER=pulseaudio|pipewire] [SHOTS=folder] browser.sh PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../bench/sound_server.sh
. "$here/../../bench/sound_server.sh" "$@"
export QT_QPA_PLATFORM=offscreen
rate=44100

# The program is not left playing into a server that is gone.
fail() { echo "FAIL: $*" >&2; kill -9 "${pid:-}" 2>/dev/null; exit 1; }

start_server
dir="$work/zone"
mkdir -p "$dir/Music" "$dir/Messages"
sox -n -r $rate -c 2 "$dir/Music/tone.wav" synth 120 sine 500 vol 0.5
sox -n -r $rate -c 2 "$dir/Messages/notice.wav" synth 1 sine 1200 vol 0.5
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
key=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
printf '[Settings]\r\nMessageInterval=0\r\n[Remote]\r\nWebPort=%s\r\nWebLan=0\r\nWebKey=%s\r\n' \
    "$port" "$key" >"$dir/corvane.ini"
keep_sink_busy
record "$work/rec.raw"
"${programs[0]}" --folder "$dir" >"$work/program.log" 2>&1 &
pid=$!
for _ in $(seq 100); do
    curl -sf -H "Authorization: Bearer $key" "http://127.0.0.1:$port/api/v1/status" >/dev/null && break
    sleep 0.1
done

# Debian's own Python, which has Debian's Selenium, whatever python3 the path finds first.
WORK=$work PORT=$port KEY=$key SHOTS=${SHOTS:-} /usr/bin/python3 - <<'PY' || fail "in the browser; the program said: $(tail -5 "$work/program.log")"
import array, json, math, os, sys, time, urllib.request
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support import expected_conditions as shown
from selenium.webdriver.support.ui import WebDriverWait

work, port, key, shots = os.environ["WORK"], os.environ["PORT"], os.environ["KEY"], os.environ["SHOTS"]
base = "http://127.0.0.1:%s" % port

def api(method, path, body=None):
    request = urllib.request.Request(base + path, method=method,
                                     data=None if body is None else json.dumps(body).encode(),
                                     headers={"Authorization": "Bearer " + key})
    return json.load(urllib.request.urlopen(request, timeout=5))

def recorded():
    return os.path.getsize(os.path.join(work, "rec.raw")) / (44100 * 4)

def rms(a, b):
    samples = array.array("h", open(os.path.join(work, "rec.raw"), "rb").read())[0::2]
    part = samples[int(a * 44100):int(b * 44100)]
    return math.sqrt(sum(s * s for s in part) / len(part))

def until(what, test, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        if test():
            return
        time.sleep(0.1)
    sys.exit("timed out waiting for " + what)

options = webdriver.ChromeOptions()
for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
    options.add_argument(argument)
# A phone's screen, touch and all.
options.add_experimental_option("mobileEmulation", {"deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 2}})
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
wait = WebDriverWait(browser, 10)
try:
    browser.get(base + "/")
    wait.until(shown.visibility_of_element_located((By.ID, "key")))
    if shots:
        browser.save_screenshot(os.path.join(shots, "remote-key.png"))
    browser.find_element(By.ID, "key").send_keys("0" * 32 + Keys.ENTER)
    wait.until(shown.text_to_be_present_in_element((By.ID, "error"), "not right"))

    browser.find_element(By.ID, "key").send_keys(key.upper() + Keys.ENTER)
    wait.until(shown.visibility_of_element_located((By.ID, "remote")))
    status = api("GET", "/api/v1/status")
    wait.until(shown.text_to_be_present_in_element((By.ID, "music"), "tone.wav"))
    assert status["music"]["file"] == "tone.wav", status
    slider = browser.find_element(By.ID, "MusicVolumeHigh")
    assert slider.get_attribute("value") == str(status["MusicVolumeHigh"]), slider.get_attribute("value")

    t = recorded()
    time.sleep(1)
    full = rms(t + 0.2, t + 1)
    start = status["MusicVolumeHigh"]
    slider.click()  # on its middle, a level of 50
    until("the level the slider was put at",
          lambda: api("GET", "/api/v1/status")["MusicVolumeHigh"] == int(slider.get_attribute("value")))
    for _ in range(2):
        slider.send_keys(Keys.ARROW_LEFT)
    want = int(slider.get_attribute("value"))
    assert 30 <= want <= 70 and want != start, want
    until("MusicVolumeHigh %d in the status" % want,
          lambda: api("GET", "/api/v1/status")["MusicVolumeHigh"] == want)
    t = recorded()
    time.sleep(1.2)
    ratio = rms(t + 0.4, t + 1.1) / full
    assert abs(ratio - want / start) < 0.06, "level %d heard at %.3f of %d" % (want, ratio, start)

    # Changed elsewhere: the open page follows over its live connection.
    api("PUT", "/api/v1/settings", {"MusicVolumeLow": 33})
    wait.until(shown.text_to_be_present_in_element((By.ID, "MusicVolumeLowShown"), "33"))
    if shots:
        browser.save_screenshot(os.path.join(shots, "remote-phone.png"))

    # The key is kept in the browser: a new visit does not ask again.
    browser.get(base + "/")
    wait.until(shown.visibility_of_element_located((By.ID, "remote")))
    browser.find_element(By.ID, "pause").click()
    until("paused", lambda: api("GET", "/api/v1/status")["paused"])
    wait.until(shown.text_to_be_present_in_element((By.ID, "pause"), "Resume"))
    browser.find_element(By.ID, "pause").click()
    until("playing again", lambda: not api("GET", "/api/v1/status")["paused"])
    print("page: level %d heard at %.3f of %d" % (want, ratio, start))
    with open(os.path.join(work, "want"), "w") as f:
        f.write(str(want))
finally:
    browser.quit()
PY

want=$(cat "$work/want")
for _ in $(seq 30); do grep -q "^MusicVolumeHigh=$want" "$dir/corvane.ini" && break; sleep 0.1; done
grep -q "^MusicVolumeHigh=$want" "$dir/corvane.ini" || fail "level $want not stored: $(cat "$dir/corvane.ini")"
kill -INT "$pid"
wait "$pid" || fail "the program ended badly: $(tail -5 "$work/program.log")"
grep -q "^WebKey=$key" "$dir/corvane.ini" || fail "the key was lost at exit"
echo "ok on $server"
