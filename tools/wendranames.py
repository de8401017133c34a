"""Wendra's names that the programs outside it address it by, read from the
logger's own headers, so they never drift from the program."""

import os
import re

SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def wendra_names():
    """Wendra's main window title and its Exit button's id."""
    with open(os.path.join(SOURCE, "logger", "WendraNames.h")) as f:
        suffix = re.search(r'INSTANCE_SUFFIX\[\] = TEXT\("([^"]*)"\)', f.read()).group(1)
    with open(os.path.join(SOURCE, "logger", "resource.h")) as f:
        exit_id = re.search(r"#define IDC_EXIT (\d+)", f.read()).group(1)
    return "Wendra" + suffix, exit_id
