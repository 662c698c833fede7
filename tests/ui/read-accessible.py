# Reads a running application over the accessibility bus, as a screen reader does: prints the role
# and the name of each of its accessible objects that has a name, one per line ("role<TAB>name").
# Usage: read-accessible.py PID    (status 3 when no application of that process is on the bus)
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, depth):
    if node is None or depth > 40:
        return
    name = node.get_name()
    if name:
        print(f"{node.get_role_name()}\t{name}")
    for index in range(node.get_child_count()):
        walk(node.get_child_at_index(index), depth + 1)


pid = int(sys.argv[1])
desktop = Atspi.get_desktop(0)
for index in range(desktop.get_child_count()):
    application = desktop.get_child_at_index(index)
    if application is not None and application.get_process_id() == pid:
        walk(application, 0)
        sys.exit(0)
sys.exit(3)
