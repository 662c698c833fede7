# An accessibility client that does what a screen reader does with the events of an
# application: it reads the text around each change of a text and asks what got the focus.
import pyatspi


def on_text(event):
    try:
        text = event.source.queryText()
        text.getText(max(0, event.detail1 - 100), event.detail1 + event.detail2)
        text.characterCount
    except Exception:
        pass


def on_focus(event):
    try:
        event.source.name
        event.source.getRole()
    except Exception:
        pass


for kind in ("object:text-changed", "object:text-caret-moved"):
    pyatspi.Registry.registerEventListener(on_text, kind)
for kind in ("focus:", "object:state-changed:focused", "object:property-change",
             "object:value-changed"):
    pyatspi.Registry.registerEventListener(on_focus, kind)
pyatspi.Registry.start()
