#!/usr/bin/env bash
# The web remote in a real browser: headless Chromium driven by Selenium loads the page from the
# running program, is refused a wrong key, takes the right one, and moves the music slider; the
# program's status shows the new level, it is heard, and it is in the settings file. A change made
# elsewhere reaches the open page over its live connection. A browser that asks for German, then
# one that asks for French, gets the page in its language: every text the program has a
# translation of is shown translated.
# Usage (under dbus-run-session): [SERVER=pulseaudio|pipewire] [SHOTS=folder] browser.sh PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../bench/sound_server.sh
. "$here/../../bench/sound_server.sh" "$@"
export QT_QPA_PLATFORM=offscreen
rate=44100

# However the script ends, the program goes before the sound server does.
on_exit="kill -9 \${pid:-}"
fail() { echo "FAIL: $*" >&2; exit 1; }

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
import array, json, math, os, time, urllib.request
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support import expected_conditions as shown
from selenium.webdriver.support.ui import WebDriverWait

work, port, key, shots = (os.environ[name] for name in ("WORK", "PORT", "KEY", "SHOTS"))
base = "http://127.0.0.1:%s" % port
recording = os.path.join(work, "rec.raw")

def api(method, path, body=None):
    request = urllib.request.Request(base + path, method=method,
                                     data=None if body is None else json.dumps(body).encode(),
                                     headers={"Authorization": "Bearer " + key})
    return json.load(urllib.request.urlopen(request, timeout=5))

def level():
    return api("GET", "/api/v1/status")["MusicVolumeHigh"]

# The RMS of what is heard from a to b seconds from now, measured once it has been.
def heard(a, b):
    t = os.path.getsize(recording) / (44100 * 4)
    time.sleep(b + 0.1)
    part = array.array("h", open(recording, "rb").read())[0::2][int((t + a) * 44100):int((t + b) * 44100)]
    assert part, "nothing recorded %s s to %s s on" % (a, b)
    return math.sqrt(sum(s * s for s in part) / len(part))

# A phone's screen, touch and all, in a profile of its own; `language` the one it asks pages in.
def chromium(width, language=None):
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    if language:
        options.add_argument("--lang=" + language)
        options.add_experimental_option("prefs", {"intl.accept_languages": language})
    options.add_experimental_option("mobileEmulation", {"deviceMetrics": {"width": width, "height": 844, "pixelRatio": 2}})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

# The page's texts as it shows them, in the order of the page: its elements' own (data-t), then
# the attributes it translates (data-t-name).
WRITTEN = """
const texts = [...document.querySelectorAll("[data-t]")]
    .map((e) => e.textContent.replace(/\\s+/g, " ").trim());
for (const e of document.querySelectorAll("*"))
  for (const a of e.attributes)
    if (a.name.startsWith("data-t-")) texts.push(e.getAttribute(a.name.slice(7)));
return texts;"""

def speaks(language):
    global browser, wait
    browser.quit()
    browser = chromium(412, language)
    wait = WebDriverWait(browser, 10)
    browser.get(base + "/?lang=en")
    english = browser.execute_script(WRITTEN)
    browser.get(base + "/")
    lang = browser.find_element(By.TAG_NAME, "html").get_attribute("lang")
    assert lang == language, "asked for %s, the page is in %s" % (language, lang)
    texts = json.loads(browser.find_element(By.ID, "texts").get_attribute("textContent"))
    visible("key")
    browser.find_element(By.ID, "key").send_keys(key + Keys.ENTER)
    visible("remote")
    says("music", "tone.wav")
    says("MessageIntervalShown", texts.get("never", "never"))
    showing = browser.execute_script(WRITTEN)
    assert len(showing) == len(english), (english, showing)
    pairs = list(zip(english, showing))
    # What the page's script writes, a button among them.
    for element, text in (("pause", "Pause"), ("next", "No message is due."), ("MessageIntervalShown", "never")):
        pairs.append((text, browser.find_element(By.ID, element).text))
    pairs.append(("Next in turn", browser.find_element(By.CSS_SELECTOR, "#messageFile option").text))
    wrong = ["%r, not %r, for %r" % (s, texts.get(e, e), e) for e, s in pairs if s != texts.get(e, e)]
    assert not wrong, "in %s: %s" % (language, "; ".join(wrong))
    shot("remote-%s.png" % language)
    translated = sum(e in texts for e in english)
    print("page in %s: %d of %d written texts translated" % (language, translated, len(english)))

browser = chromium(390)
wait = WebDriverWait(browser, 10)
def visible(element):
    wait.until(shown.visibility_of_element_located((By.ID, element)))
def says(element, text):
    wait.until(shown.text_to_be_present_in_element((By.ID, element), text))
def shot(name):
    if shots:
        browser.save_screenshot(os.path.join(shots, name))
try:
    browser.get(base + "/")
    visible("key")
    shot("remote-key.png")
    browser.find_element(By.ID, "key").send_keys("0" * 32 + Keys.ENTER)
    says("error", "not right")
    browser.find_element(By.ID, "key").send_keys(key.upper() + Keys.ENTER)
    visible("remote")
    says("music", "tone.wav")
    start = level()
    slider = browser.find_element(By.ID, "MusicVolumeHigh")
    assert slider.get_attribute("value") == str(start), slider.get_attribute("value")

    full = heard(0.2, 1)
    slider.click()  # on its middle, a level of 50
    wait.until(lambda _: level() == int(slider.get_attribute("value")), "the slider's level not taken")
    for _ in range(2):
        slider.send_keys(Keys.ARROW_LEFT)
    want = int(slider.get_attribute("value"))
    assert 30 <= want <= 70 and want != start, want
    wait.until(lambda _: level() == want, "MusicVolumeHigh %d not in the status" % want)
    ratio = heard(0.4, 1.1) / full
    assert abs(ratio - want / start) < 0.06, "level %d heard at %.3f of %d" % (want, ratio, start)
    ini = os.path.join(work, "zone", "corvane.ini")
    wait.until(lambda _: "MusicVolumeHigh=%d\r\n" % want in open(ini, newline="").read(), "level not stored")

    # Changed elsewhere: the open page follows over its live connection.
    api("PUT", "/api/v1/settings", {"MusicVolumeLow": 33})
    says("MusicVolumeLowShown", "33")
    shot("remote-phone.png")

    # The key is kept in the browser: a new visit does not ask again.
    browser.get(base + "/")
    visible("remote")
    for paused in (True, False):
        browser.find_element(By.ID, "pause").click()
        wait.until(lambda _: api("GET", "/api/v1/status")["paused"] == paused, "paused not %s" % paused)
        says("pause", "Resume" if paused else "Pause")
    print("page: level %d heard at %.3f of %d" % (want, ratio, start))
    for language in ("de", "fr"):
        speaks(language)
finally:
    browser.quit()
PY

kill -INT "$pid"
wait "$pid" || fail "the program ended badly: $(tail -5 "$work/program.log")"
grep -q "^WebKey=$key" "$dir/corvane.ini" || fail "the key was lost at exit"
echo "ok on $server"
