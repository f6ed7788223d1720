# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The report page's compact document expanded back, written apart from the
page's own reader so that a fault in either shows as a difference from
--json. The form is described in diff/report/page_data.h."""


def integers(value):
    if isinstance(value, list):
        return value
    out, current = [], 0
    if "~d" in value:
        for delta in value["~d"]:
            current += delta
            out.append(current)
    else:
        runs = value["~r"]
        for delta, count in zip(runs[0::2], runs[1::2]):
            for _ in range(count):
                current += delta
                out.append(current)
    return out


def expand(value, strings):
    if isinstance(value, list):
        return [expand(v, strings) for v in value]
    if not isinstance(value, dict):
        return value
    if len(value) == 1:
        (key, inner), = value.items()
        if key in ("~d", "~r"):
            return integers(value)
        if key == "~o":
            return {k: expand(v, strings) for k, v in inner.items()}
        if key == "~s":
            return [strings[i] for i in integers(inner)]
        if key == "~b":
            return [bit == "1" for bit in inner]
        if key == "~l":
            lengths, items = integers(inner[0]), expand(inner[1], strings)
            out, at = [], 0
            for length in lengths:
                out.append(items[at:at + length])
                at += length
            return out
        if key == "~t":
            shapes, rows, columns = inner[0], integers(inner[1]), {k: expand(v, strings) for k, v in inner[2].items()}
            taken = {k: 0 for k in columns}
            out = []
            for shape in rows:
                if shape < 0:
                    out.append(None)
                    continue
                element = {}
                for k in shapes[shape]:
                    element[k] = columns[k][taken[k]]
                    taken[k] += 1
                out.append(element)
            return out
    return {k: expand(v, strings) for k, v in value.items()}


def document_of(page_data):
    """The document a page holds, compact or (as a test may write it) plain."""
    if isinstance(page_data, dict) and page_data.get("page_data") == 1:
        return expand(page_data["document"], page_data["strings"])
    return page_data
