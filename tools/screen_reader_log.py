#!/usr/bin/env python3
"""Turns Orca's debug log of a tools/screen_reader.sh run into what Orca spoke
for each key sent.

    screen_reader_log.py LOG STEPS

LOG is Orca's debug log. STEPS holds one line per step (one or more keys sent
in one go), tab-separated: the size of LOG in bytes just before the step, the
keys as given to xdotool, and a note (empty, or what went wrong sending them);
then a last line "END<TAB>size" once the last step had settled. Everything
before the first step is the start-up.

Prints one block per step: "KEYS: what was spoken", and under it, indented,
what else matters about the step's last key: that its press never reached
Orca, or that Orca kept the press for itself.
"""

import re
import sys

# Orca stamps a line "HH:MM:SS.ffffff - text"; a text with line breaks goes on
# in lines indented by 18 spaces.
STAMP = re.compile(r"^\d\d:\d\d:\d\d\.\d+ - ")
CONTINUATION = " " * 18
SPEECH = "SPEECH OUTPUT: '"
# A key event: first its dump (only for events that are not duplicates),
# then the block that processes it.
DUMP = re.compile(r"^KEYBOARD_EVENT: +type=\w*KEY_(PRESSED|RELEASED)_EVENT")
KEYVAL = re.compile(r"^ +keyval_name=\((.*)\)$")
PROCESS = re.compile(r"^vvvvv PROCESS \w*KEY_(PRESSED|RELEASED)_EVENT: '(.*)' \((\d+)\)")
PROCESS_END = re.compile(r"^\^\^\^\^\^ PROCESS ")
CONSUME = re.compile(r"^CONSUMED?: +(True|False) \((.*)\)$")
CONSUME_BLOCK = re.compile(r"^vvvvv CONSUME \w*KEY_PRESSED_EVENT: ")
HANDLER = re.compile(r"^INFO: (?:Handler|Consumer) is (.*)$")

# xdotool's name of a key against the name of what the key produced.
SAME_KEY = {"iso_left_tab": "tab"}


def key_name(name):
    name = name.lower()
    return SAME_KEY.get(name, name)


def strip_voice(rest):
    """The spoken text from what follows "SPEECH OUTPUT: '": the text, a
    closing quote, maybe " voice=NAME", then the voice settings: a dict, a
    list of them, None or nothing."""
    rest = rest.rstrip()
    if rest and rest[-1] in "}]":
        depth = 0
        for i in range(len(rest) - 1, -1, -1):
            if rest[i] in "}]":
                depth += 1
            elif rest[i] in "{[":
                depth -= 1
                if depth == 0:
                    rest = rest[:i]
                    break
    elif rest.endswith("None"):
        rest = rest[:-4]
    rest = re.sub(r" voice=\S+$", "", rest.rstrip()).rstrip()
    if rest.endswith("'"):
        rest = rest[:-1]
    return rest


class KeyEvent:
    def __init__(self, pressed, name):
        self.pressed = pressed
        self.name = name
        self.consumed = False
        self.reason = ""
        self.handler = ""


class Step:
    def __init__(self, keys, note):
        self.keys = keys
        self.note = note
        self.spoken = []
        self.events = []

    def read(self, text):
        lines = text.split("\n")
        keyval = None      # from the dump of the event about to be processed
        current = None     # the key event being processed
        consuming = None   # the key press whose handler Orca is running
        i = 0
        while i < len(lines):
            line = lines[i]
            stamp = STAMP.match(line)
            body = line[stamp.end():] if stamp else line
            if stamp and body.startswith(SPEECH):
                rest = body[len(SPEECH):]
                while i + 1 < len(lines) and lines[i + 1].startswith(CONTINUATION):
                    i += 1
                    rest += "\n" + lines[i][len(CONTINUATION):]
                spoken = " ".join(strip_voice(rest).split())
                if spoken:
                    self.spoken.append(spoken)
            elif DUMP.match(line):
                keyval = None
            elif KEYVAL.match(line):
                keyval = KEYVAL.match(line).group(1)
            elif PROCESS.match(line):
                m = PROCESS.match(line)
                current = KeyEvent(m.group(1) == "PRESSED", keyval or m.group(2))
                self.events.append(current)
                keyval = None
            elif PROCESS_END.match(line):
                current = None
            elif CONSUME_BLOCK.match(line):
                consuming = next((e for e in reversed(self.events) if e.pressed), None)
            elif line.startswith("^^^^^ CONSUME"):
                consuming = None
            elif current is not None and CONSUME.match(body):
                # "CONSUMED:" follows "CONSUME:" only when the outcome differs.
                m = CONSUME.match(body)
                current.consumed = m.group(1) == "True"
                current.reason = m.group(2)
            elif consuming is not None and HANDLER.match(body):
                consuming.handler = HANDLER.match(body).group(1)
            i += 1

    def notes(self):
        notes = [self.note] if self.note else []
        last = self.keys.split()[-1].split("+")[-1] if self.keys.split() else ""
        mine = [e for e in self.events if key_name(e.name) == key_name(last)]
        presses = [e for e in mine if e.pressed]
        if not presses:
            heard = list(dict.fromkeys(("press of " if e.pressed else "release of ") + e.name
                                       for e in self.events))
            notes.append("no press of %s reached Orca%s" % (
                last, "; it heard: " + ", ".join(heard) if heard else ", nor any other key event"))
        elif presses[-1].consumed:
            kept = "Orca kept the press of %s for itself (%s)" % (last, presses[-1].reason)
            if presses[-1].handler:
                kept += ": " + presses[-1].handler
            notes.append(kept)
        return notes


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        log = f.read()
    steps = [Step("start-up", "")]
    bounds = [0]
    end = len(log)
    with open(argv[2], encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "END":
                end = int(fields[1])
                continue
            bounds.append(int(fields[0]))
            steps.append(Step(fields[1], fields[2] if len(fields) > 2 else ""))
    bounds.append(end)

    for n, step in enumerate(steps):
        step.read(log[bounds[n]:bounds[n + 1]].decode("utf-8", "replace"))
        print("%s: %s" % (step.keys, " ".join(step.spoken) if step.spoken else "(nothing spoken)"))
        for note in step.notes() if n else []:
            print("    [%s]" % note)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
