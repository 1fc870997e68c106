#!/usr/bin/env python3
"""The tower page in a real headless Chromium: a captain hands bell 3 to a
connected Tolvane, calls "Look to", sees the rows come, and after the touch
reads the striking lines and sees the chart. A ringer named <b>x</b> shows
as text. Every wait is bounded; both programs are stopped whatever happens.

Usage: tower_page_test.py SERVER TOLVANE METHODS_FILE
Exits 77 (skipped) only when Chromium cannot be started.
"""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, timeout):
    from selenium.common.exceptions import StaleElementReferenceException

    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = check()
        except StaleElementReferenceException:
            value = None  # the page drew that part afresh meanwhile: look again
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out after %ss waiting for %s" % (timeout, what))


def start_browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1000,1400"):
        options.add_argument(argument)
    chromium = shutil.which("chromium")
    if chromium:
        options.binary_location = chromium
    driver_path = shutil.which("chromedriver")
    service = Service(executable_path=driver_path) if driver_path else Service()
    return webdriver.Chrome(service=service, options=options)


def main():
    server_path, tolvane_path, methods = sys.argv[1:4]
    try:
        from selenium.common.exceptions import WebDriverException
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import Select
    except ImportError as error:
        print("SKIP: python3-selenium is not installed (%s); scripts/bootstrap installs it" % error)
        return SKIP

    home = tempfile.mkdtemp(prefix="tolvane-web-test-")
    environment = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_DATA_HOME=os.path.join(home, ".local/share"), QT_QPA_PLATFORM="offscreen")
    processes = []
    driver = None
    try:
        try:
            driver = start_browser()
        except WebDriverException as error:
            print("SKIP: Chromium could not be started: %s" % str(error).splitlines()[0])
            return SKIP
        driver.set_page_load_timeout(20)

        port, http = free_port(), free_port()
        log_path = os.path.join(home, "server.log")
        with open(log_path, "w") as log:
            processes.append(subprocess.Popen(
                [server_path, "--port", str(port), "--http", "127.0.0.1:%d" % http,
                 "--tower", "Ash:Four bells:4", "--conductor", "off", "--peal-minutes", "60",
                 "--method", "Plain Bob Minimus", "--methods", methods],
                stdout=log, stderr=subprocess.STDOUT, env=environment))

        def logged_key():
            with open(log_path) as log:
                found = re.search(r"\?key=(\S+)", log.read())
            return found.group(1) if found else None

        key = wait_for("the captain's key in the server's log", logged_key, 10)
        for name in ("Tolvane", "<b>x</b>"):
            processes.append(subprocess.Popen(
                [tolvane_path, "--headless", "--server", "127.0.0.1:%d" % port, "--tower", "Ash",
                 "--method", "Plain Bob Minimus", "-n", name],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment))

        driver.get("http://127.0.0.1:%d/tower/Ash?key=%s" % (http, key))

        def bell_three_offers_both():
            selects = driver.find_elements(By.ID, "bell-3")
            if not selects:
                return None
            names = [option.text for option in Select(selects[0]).options]
            return "Tolvane" in names and "<b>x</b>" in names

        def hand_bell_three_to_tolvane():
            Select(driver.find_element(By.ID, "bell-3")).select_by_visible_text("Tolvane")
            return True

        wait_for("both ringers offered for bell 3", bell_three_offers_both, 15)
        label = driver.find_element(By.CSS_SELECTOR, "label[for='bell-3']")
        assert label.text.startswith("Bell 3"), label.text
        wait_for("Tolvane chosen for bell 3", hand_bell_three_to_tolvane, 10)
        wait_for("bell 3 handed to Tolvane",
                 lambda: "Bell 3: Tolvane" in driver.find_element(By.ID, "status").text, 10)

        # The ringer's name is text: no element was made of it.
        assert not driver.find_elements(By.TAG_NAME, "b"), "a ringer's name was read as markup"

        driver.find_element(By.XPATH, "//button[normalize-space()='Look to']").click()
        wait_for("rows on the page", lambda: len(driver.find_elements(By.CSS_SELECTOR, "#rows li")) >= 2, 20)

        texts = wait_for("the touch's striking lines",
                         lambda: [line.text for line in driver.find_elements(By.CSS_SELECTOR, ".striking-line")], 120)
        assert any(text.startswith("Tolvane bell 3:") for text in texts), texts
        assert any(text.startswith("band:") for text in texts), texts
        wait_for("the chart drawn", lambda: driver.execute_script(
            "const chart = document.querySelector('img.chart');"
            "return chart !== null && chart.complete && chart.naturalWidth > 0;"), 10)
        # The towers page names the ringers as text too.
        driver.get("http://127.0.0.1:%d/" % http)
        wait_for("the towers page listing the ringers",
                 lambda: "<b>x</b>" in driver.find_element(By.ID, "main").text, 10)
        assert not driver.find_elements(By.TAG_NAME, "b"), "a ringer's name was read as markup on the towers page"
        print("the tower page: bell 3 handed out, rows seen, striking lines %s and the chart shown" % texts)
        return 0
    finally:
        if driver is not None:
            driver.quit()
        for process in processes:
            process.terminate()
        for process in processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
