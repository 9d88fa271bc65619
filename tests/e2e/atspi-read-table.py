#!/usr/bin/python3
"""Reads the program's windows through the AT-SPI bus, as a screen reader does.

  atspi-read-table.py table          the packet list: headers and every cell, as JSON
  atspi-read-table.py focus KEY...   focus events while the keys are pressed in the list
  atspi-read-table.py labels TITLE   the texts of the labels in the window named TITLE
  atspi-read-table.py extents ROW    where the first cell of the row is on the screen: x y w h

Only pyatspi and xdotool are used: what this script sees is what assistive
technology sees, nothing of the program's own reporting.
"""
import json
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib


def applications():
    desktop = pyatspi.Registry.getDesktop(0)
    return [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]


def find_window(title, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        for app in applications():
            if app is None:
                continue
            for i in range(app.childCount):
                window = app.getChildAtIndex(i)
                if window is not None and window.name == title:
                    return window
        time.sleep(0.2)
    sys.exit("no window %r on the accessibility bus" % title)


def find_table(seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        for app in applications():
            if app is None:
                continue
            table = pyatspi.findDescendant(app, lambda a: a is not None and a.getRole() == pyatspi.ROLE_TABLE)
            if table is not None:
                return table
        time.sleep(0.2)
    sys.exit("no table on the accessibility bus")


def read_table():
    table = find_table()
    t = table.queryTable()
    headers = []
    for c in range(t.nColumns):
        header = t.getColumnHeader(c)
        headers.append({"name": header.name if header else None,
                        "role": header.getRoleName() if header else None,
                        "description": t.getColumnDescription(c)})
    rows = [[t.getAccessibleAt(r, c).name for c in range(t.nColumns)] for r in range(t.nRows)]
    cell = t.getAccessibleAt(0, 0) if t.nRows else None
    last = t.getAccessibleAt(t.nRows - 1, t.nColumns - 1) if t.nRows else None
    print(json.dumps({
        "role": table.getRoleName(),
        "rows": t.nRows,
        "columns": t.nColumns,
        "headers": headers,
        "cells": rows,
        "children": table.childCount,
        "firstChild": table.getChildAtIndex(0).name if table.childCount else None,
        "cellRole": cell.getRoleName() if cell else None,
        "cellRowColumn": list(t.getRowColumnExtentsAtIndex(cell.getIndexInParent())[1:3]) if cell else None,
        "lastRowColumn": [t.getRowAtIndex(last.getIndexInParent()), t.getColumnAtIndex(last.getIndexInParent())]
        if last else None,
    }))


def focus_events(keys):
    """Clicks the first row where the bus says it is, presses the keys, and
    reports every focus change with the focused object's role and name."""
    table = find_table()
    t = table.queryTable()
    first = t.getAccessibleAt(0, 0)
    x, y, w, h = first.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    seen = []

    def on_focus(event):
        if event.detail1 == 1:
            seen.append({"role": event.source.getRoleName(), "name": event.source.name})

    def press():
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "1"], check=False)
        time.sleep(0.5)
        for key in keys:
            subprocess.run(["xdotool", "key", key], check=False)
            time.sleep(0.4)
        GLib.timeout_add(1500, stop)
        return False

    def stop():
        pyatspi.Registry.stop()
        return False

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    GLib.timeout_add(300, press)
    GLib.timeout_add(20000, stop)  # bounded whatever happens
    pyatspi.Registry.start()
    selected = [r for r in range(t.nRows) if t.isRowSelected(r)]
    print(json.dumps({"extents": [x, y, w, h], "focus": seen, "selectedRows": selected}))


def labels(title):
    window = find_window(title)
    found = pyatspi.findAllDescendants(window, lambda a: a is not None and a.getRole() == pyatspi.ROLE_LABEL)
    print(json.dumps([label.name for label in found]))


def extents(row):
    t = find_table().queryTable()
    print(*t.getAccessibleAt(row, 0).queryComponent().getExtents(pyatspi.DESKTOP_COORDS))


if __name__ == "__main__":
    if sys.argv[1] == "table":
        read_table()
    elif sys.argv[1] == "focus":
        focus_events(sys.argv[2:])
    elif sys.argv[1] == "labels":
        labels(sys.argv[2])
    elif sys.argv[1] == "extents":
        extents(int(sys.argv[2]))
