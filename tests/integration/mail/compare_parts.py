#!/usr/bin/python3
"""Compares the parts that the library saved from each corpus message with
what Python's email package extracts from the same file.

Usage: compare_parts.py PARTS_DIR FILE...   (FILE k was message k)
Base64 parts are compared byte for byte, all others line by line (the
library writes CR LF after every line). The preamble, which the library keeps
as a part of its own, is compared with the message's preamble. The decoded
subject and every part's file name are compared with what the package
decodes.
"""
import email
import email.policy
import os
import sys

parts_dir, files = sys.argv[1], sys.argv[2:]
manifest = {}
with open(os.path.join(parts_dir, "manifest.tsv"), encoding="latin-1") as f:
    for line in f:
        number, index, rest = line.rstrip("\n").split("\t", 2)
        summary, kind = rest.rsplit("\t", 1)
        manifest.setdefault(int(number), []).append((int(index), summary, kind))

subjects, file_names = {}, {}
with open(os.path.join(parts_dir, "names.tsv"), encoding="utf-8") as f:
    for line in f:
        fields = line.rstrip("\n").split("\t")
        if len(fields) == 2:
            subjects[int(fields[0])] = fields[1]
        else:
            file_names[(int(fields[0]), int(fields[1]))] = fields[2]

failures = []


def leaves(part):
    """The parts the library gives: multipart containers are opened, every
    other part (message/rfc822 included) stays whole."""
    if part.get_content_maintype() == "multipart" and part.is_multipart():
        for sub in part.get_payload():
            yield from leaves(sub)
    else:
        yield part


def lines_of(data):
    return data.replace(b"\r\n", b"\n").split(b"\n")


def same_text(got, want):
    a = lines_of(got)
    b = lines_of(want)
    while a and a[-1] == b"":
        a.pop()
    while b and b[-1] == b"":
        b.pop()
    return a == b


for number, path in enumerate(files, start=1):
    name = os.path.basename(path)
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read())
    with open(path, "rb") as f:
        decoded = email.message_from_bytes(f.read(), policy=email.policy.default)
    want_subject = str(decoded["Subject"]) if decoded["Subject"] is not None else ""
    if subjects.get(number) != want_subject:
        failures.append(f"{name}: subject {subjects.get(number)!r}, Python {want_subject!r}")
    got = manifest.get(number, [])
    expected = []
    if msg.is_multipart() and msg.preamble and msg.preamble.strip():
        expected.append(("", msg.preamble.encode("latin-1"), False))
    parts = list(leaves(msg)) if msg.is_multipart() else [msg]
    for leaf in parts:
        if leaf.get_content_maintype() == "message":
            expected.append((leaf.get_content_type(), None, False))
        else:
            binary = leaf.get("Content-Transfer-Encoding", "").strip().lower() == "base64"
            expected.append((leaf.get_content_type(), leaf.get_payload(decode=True) or b"", binary))
    # The preamble part has no name.
    want_names = [""] * (len(expected) - len(parts))
    want_names += [leaf.get_filename() or "" for leaf in parts]
    if len(got) != len(expected):
        failures.append(f"{name}: {len(got)} parts, Python finds {len(expected)}")
        continue
    for (index, _, _), want_name in zip(got, want_names):
        if file_names.get((number, index)) != want_name:
            failures.append(f"{name} part {index}: file name {file_names.get((number, index))!r}, "
                            f"Python {want_name!r}")
    for (index, summary, kind), (want_type, want, binary) in zip(got, expected):
        with open(os.path.join(parts_dir, f"{number}_{index}.part"), "rb") as f:
            data = f.read()
        ours = kind.split(";")[0].strip().lower()
        if ours and ours != want_type:
            failures.append(f"{name} part {index}: kind {ours}, Python says {want_type}")
        if want is None:
            continue
        ok = data == want if binary else same_text(data, want)
        if not ok:
            failures.append(f"{name} part {index} ({want_type}): content differs "
                            f"({len(data)} bytes saved, Python {len(want)})")

if failures:
    print("corpus parts: FAILED", *failures, sep="\n  ")
    sys.exit(1)
print(f"corpus parts: {len(files)} messages agree")
