# An accessibility client that does what a screen reader does with the events of an
# application: it follows the focus and reads a text as it grows. For each insertion it asks
# the text for its length and caret, reads the inserted text and the line it ends on; for each
# move of the caret, the line at the caret. On SIGTERM it prints on standard error what it
# received and read, and the processor time it took, so that its own cost can be told apart.
import os
import signal
import sys

import pyatspi
from gi.repository import GLib

counts = {"text events": 0, "caret events": 0, "other events": 0, "queries": 0,
          "characters read": 0}


def read_text(source, start, end):
    text = source.queryText()
    length = text.characterCount
    text.caretOffset
    counts["queries"] += 3
    chunk = text.getText(max(0, min(start, length)), max(0, min(end, length)))
    end_of_change = max(0, min(end, length) - 1)
    line = text.getTextAtOffset(end_of_change, pyatspi.TEXT_BOUNDARY_LINE_START)
    counts["characters read"] += len(chunk) + len(line[0])


def on_text(event):
    try:
        if event.type.endswith(":delete"):
            counts["text events"] += 1
            event.source.queryText().characterCount
            counts["queries"] += 2
            return
        counts["text events"] += 1
        read_text(event.source, event.detail1, event.detail1 + event.detail2)
    except Exception:
        pass


def on_caret(event):
    try:
        counts["caret events"] += 1
        text = event.source.queryText()
        offset = text.caretOffset
        counts["queries"] += 3
        line = text.getTextAtOffset(offset, pyatspi.TEXT_BOUNDARY_LINE_START)
        counts["characters read"] += len(line[0])
    except Exception:
        pass


def on_other(event):
    try:
        counts["other events"] += 1
        event.source.name
        event.source.getRole()
        counts["queries"] += 2
    except Exception:
        pass


def on_term():
    times = os.times()
    summary = ", ".join("%s %d" % item for item in counts.items())
    print("reading client: %s; processor %.2f s" % (summary, times.user + times.system),
          file=sys.stderr, flush=True)
    pyatspi.Registry.stop()
    return GLib.SOURCE_REMOVE


pyatspi.Registry.registerEventListener(on_text, "object:text-changed")
pyatspi.Registry.registerEventListener(on_caret, "object:text-caret-moved")
for kind in ("focus:", "object:state-changed:focused", "object:property-change",
             "object:value-changed"):
    pyatspi.Registry.registerEventListener(on_other, kind)
GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGTERM, on_term)
# Without the idle callback that sleeps 10 ms each time the loop has nothing to do, as a screen
# reader's loop: the client answers each event as soon as it comes.
pyatspi.Registry.start(gil=False)
