#!/usr/bin/env python3
"""Every catalogue is complete for the texts the sources hold today: the window's Qt catalogues
(src/ui/translations/korvelo_<language>.ts) and the core's and command line's gettext ones
(po/<language>.po). The sources' texts are read afresh, as scripts/update-translations does, into
copies; a text with no translation, an unfinished or fuzzy one, one whose placeholders differ
from the English text, or plural forms missing fails, named. Usage:
catalogues_complete.py SOURCE_DIR LUPDATE"""
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

LANGUAGES = {"de": 2, "fr": 2, "es": 2, "ja": 1}  # and how many plural forms each has
QT_PLACEHOLDER = re.compile(r"%(?:L?\d+|n|p)")


def window_problems(source, lupdate, work):
    problems = []
    copies = []
    for language in LANGUAGES:
        copy = work / f"korvelo_{language}.ts"
        shutil.copy(source / "src/ui/translations" / copy.name, copy)
        copies.append(str(copy))
    subprocess.run([lupdate, "-silent", "-no-obsolete", "-locations", "none", "-I",
                    str(source / "src"), str(source / "src/ui"), "-ts", *copies],
                   check=True, stderr=subprocess.DEVNULL)
    for copy in copies:
        language = Path(copy).stem.split("_")[1]
        for context in ET.parse(copy).getroot().iter("context"):
            name = context.findtext("name")
            for message in context.iter("message"):
                text = message.findtext("source")
                where = f"{Path(copy).name}: {name}: {text!r}"
                translation = message.find("translation")
                forms = [f.text or "" for f in translation.iter("numerusform")]
                if message.get("numerus") != "yes":
                    forms = [translation.text or ""]
                elif len(forms) != LANGUAGES[language]:
                    problems.append(f"{where}: {len(forms)} plural forms")
                if translation.get("type") in ("unfinished", "vanished", "obsolete"):
                    problems.append(f"{where}: {translation.get('type')}")
                for form in forms:
                    if not form.strip():
                        problems.append(f"{where}: not translated")
                    elif sorted(QT_PLACEHOLDER.findall(form)) != sorted(
                            QT_PLACEHOLDER.findall(text)):
                        problems.append(f"{where}: placeholders differ in {form!r}")
    return problems


def message_problems(source, work):
    pot = work / "korvelo-converter.pot"
    folders = ("src/medialib", "src/engine", "src/probe", "src/converter", "src/app", "src/cli")
    sources = sorted(str(p) for d in folders for p in (source / d).glob("*.cpp"))
    sources.append(str(source / "src/ui/window_command_line.cpp"))
    subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", "--keyword=_",
                    "--keyword=N_", "--keyword=Translate", "--keyword=TranslatePlural:1,2",
                    "--keyword=M_", "--keyword=MN_", "--keyword=LayerText",
                    "-o", str(pot), *sources], check=True)
    problems = []
    for language in LANGUAGES:
        merged = work / f"{language}.po"
        subprocess.run(["msgmerge", "--quiet", "--no-fuzzy-matching", "-o", str(merged),
                        str(source / "po" / f"{language}.po"), str(pot)], check=True)
        # --check: the placeholders of every translation match its English text's.
        result = subprocess.run(["msgfmt", "--check", "--statistics", "-o", "/dev/null",
                                 str(merged)], capture_output=True, text=True)
        if result.returncode != 0 or re.search(r"fuzzy|untranslated", result.stderr):
            problems.append(f"po/{language}.po: {result.stderr.strip()}")
            missing = "".join(
                subprocess.run(["msgattrib", which, str(merged)], capture_output=True,
                               text=True).stdout for which in ("--untranslated", "--only-fuzzy"))
            problems += [f"  {line}" for line in missing.splitlines()
                         if line.startswith("msgid") and line != 'msgid ""']
    return problems


def main():
    source, lupdate = Path(sys.argv[1]), sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        problems = window_problems(source, lupdate, work) + message_problems(source, work)
    for problem in problems:
        print(problem)
    if problems:
        print("Translate these (scripts/update-translations brings new texts in).")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
