#!/usr/bin/env python3
"""Writes a tool's man page with help2man from the tool's own --help and --version.

For a tool with commands (tarvex) the page also carries a COMMANDS section that
holds each command's --help, and that of the commands under it (slot set, ports
map), so `man tarvex` answers what `tarvex COMMAND --help` answers.  The texts
stay as the tool prints them (no-fill); a group's help loses the footer it
inherits from the tool, which the page already shows once.

Usage: make_man.py HELP2MAN TOOL OUTPUT NAME-LINE
"""
import os
import shlex
import subprocess
import sys
import tempfile


def help_text(tool, *words):
    return subprocess.run([tool, *words, "--help"], check=True, capture_output=True,
                          text=True).stdout


def commands(text):
    """The names listed under 'Subcommands:'."""
    names, inside = [], False
    for line in text.splitlines():
        if line == "Subcommands:":
            inside = True
        elif inside and not line.strip():
            break
        elif inside and line.startswith("  ") and not line.startswith("   "):
            names.append(line.split()[0])
    return names


def footer(text):
    """What follows the list of commands: the tool's examples and notes."""
    lines = text.splitlines()
    if "Subcommands:" not in lines:
        return ""
    rest = lines[lines.index("Subcommands:"):]
    return "\n".join(rest[rest.index(""):]) if "" in rest else ""


def roff_verbatim(text):
    out = []
    for line in text.rstrip("\n").splitlines():
        line = line.replace("\\", "\\e").replace("-", "\\-")
        if line.startswith((".", "'")):
            line = "\\&" + line
        out.append(line)
    return "\n".join(out)


def command_section(tool, name):
    top = help_text(tool)
    inherited = footer(top)
    parts = []

    def add(words):
        text = help_text(tool, *words)
        if inherited and text.rstrip("\n").endswith(inherited):
            text = text.rstrip("\n")[: -len(inherited)]
        parts.append('.SS "%s %s"\n.nf\n%s\n.fi' % (name, " ".join(words), roff_verbatim(text)))
        for sub in commands(text):
            add([*words, sub])

    for command in commands(top):
        add([command])
    return "[COMMANDS]\n" + "\n".join(parts) + "\n" if parts else ""


def split_examples(text):
    """The help before its examples, and the roff of the examples and the notes
    after them as printed (help2man would refill them into one paragraph)."""
    lines = text.rstrip("\n").splitlines()
    heads = [i for i, line in enumerate(lines) if line in ("Example:", "Examples:")]
    if not heads:
        return text, ""
    rest = lines[heads[0] + 1:]
    end = rest.index("") if "" in rest else len(rest)
    examples = "\n".join(line[2:] if line.startswith("  ") else line for line in rest[:end])
    roff = "[=EXAMPLES]\n.nf\n%s\n.fi\n" % roff_verbatim(examples)
    if rest[end + 1:]:
        roff += "[NOTES]\n.nf\n%s\n.fi\n" % roff_verbatim("\n".join(rest[end + 1:]))
    return "\n".join(lines[:heads[0]]) + "\n", roff


def main():
    help2man, tool, output, name_line = sys.argv[1:5]
    name = os.path.basename(tool)
    body, examples = split_examples(help_text(tool))
    with tempfile.TemporaryDirectory() as work:
        # help2man reads --help from a stand-in of the same name that prints the
        # help without the examples, which the include file carries instead.
        with open(os.path.join(work, "help.txt"), "w") as f:
            f.write(body)
        include = os.path.join(work, "extra.h2m")
        with open(include, "w") as f:
            f.write(command_section(tool, name) + examples)
        stand_in = os.path.join(work, name)
        with open(stand_in, "w") as f:
            f.write('#!/bin/sh\n[ "$1" = --version ] && exec %s --version\ncat %s\n' %
                    (shlex.quote(tool), shlex.quote(os.path.join(work, "help.txt"))))
        os.chmod(stand_in, 0o755)
        command = [help2man, "--no-info", "--no-discard-stderr", "--name", name_line,
                   "--output", output]
        if os.path.getsize(include):
            command += ["--include", include]
        subprocess.run(command + [stand_in], check=True)


if __name__ == "__main__":
    main()
