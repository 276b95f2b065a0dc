"""The kit's README documents every public name: everything the package exports and every
public method, field and attribute of the classes it exports, each in a code span that starts
with the name (qualified by its class for a member, e.g. `Board.push`)."""

import dataclasses
import inspect
import os
import re
import unittest

import reversi_bot

README = os.path.join(os.path.dirname(reversi_bot.__file__), os.pardir, "README.md")


def members(cls) -> set:
    """The public names the class itself adds: its methods and class attributes, its dataclass
    fields or enum members, and the attributes its methods give its instances."""
    names = {n for n in vars(cls) if not n.startswith("_")}
    if dataclasses.is_dataclass(cls):
        names |= {f.name for f in dataclasses.fields(cls)}
    names |= set(re.findall(r"self\.([a-z]\w*)(?:: [^=\n]+)? = ", inspect.getsource(cls)))
    return names


def public_names() -> list:
    names = ["__version__"]
    for name in reversi_bot.__all__:
        names.append(name)
        value = getattr(reversi_bot, name)
        if inspect.isclass(value):
            names += [f"{name}.{member}" for member in sorted(members(value))]
    return names


class ReadmeNamesEverything(unittest.TestCase):
    def test_every_public_name_has_a_line(self):
        with open(README) as source:
            text = source.read()
        missing = [n for n in public_names()
                   if not re.search(r"`" + re.escape(n) + r"(?![\w.])", text)]
        self.assertEqual(missing, [], "public names the README does not document")


if __name__ == "__main__":
    unittest.main()
