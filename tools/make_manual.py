#!/usr/bin/env python3
"""Makes the manual's HTML page and quarry-cli's man page from docs/manual.md.

The source uses a small part of Markdown: headings (#, ##, ###), paragraphs,
tables, "- " lists and `code`. The man page is the "quarry-cli" section.

    make_manual.py SOURCE HTML_OUT MAN_OUT VERSION
"""
import html
import re
import sys

CLI_SECTION = "quarry-cli"


def blocks(lines):
    """Groups the lines into (kind, payload) blocks."""
    out = []
    para, table, items = [], [], []

    def flush():
        if para:
            out.append(("p", " ".join(para)))
            para.clear()
        if table:
            rows = [split_row(r) for r in table if not re.match(r"^\|[-| :]+\|$", r)]
            out.append(("table", rows))
            table.clear()
        if items:
            out.append(("ul", list(items)))
            items.clear()

    for line in lines:
        line = line.rstrip("\n")
        heading = re.match(r"^(#{1,3}) (.*)$", line)
        if heading:
            flush()
            out.append(("h%d" % len(heading.group(1)), heading.group(2)))
        elif line.startswith("|"):
            if para or items:
                flush()
            table.append(line)
        elif line.startswith("- "):
            if para or table:
                flush()
            items.append(line[2:])
        elif line.startswith("  ") and items:
            items[-1] += " " + line.strip()
        elif not line.strip():
            flush()
        else:
            if table or items:
                flush()
            para.append(line.strip())
    flush()
    return out


def split_row(row):
    # A bar inside `code` belongs to the cell.
    cells, cell, code = [], "", False
    for ch in row.strip()[1:-1]:
        if ch == "`":
            code = not code
        if ch == "|" and not code:
            cells.append(cell.strip())
            cell = ""
        else:
            cell += ch
    cells.append(cell.strip())
    return cells


def anchor(title):
    return re.sub(r"[^a-z0-9]+", "-", title.lower()).strip("-")


def inline_html(text):
    parts = re.split(r"(`[^`]*`)", text)
    return "".join(
        "<code>%s</code>" % html.escape(p[1:-1]) if p.startswith("`") else html.escape(p)
        for p in parts)


def to_html(doc, version):
    title = next(payload for kind, payload in doc if kind == "h1")
    toc, body = [], []
    for kind, payload in doc:
        if kind in ("h2", "h3"):
            toc.append('<li class="%s"><a href="#%s">%s</a></li>' %
                       (kind, anchor(payload), html.escape(payload)))
            body.append('<%s id="%s">%s</%s>' % (kind, anchor(payload), html.escape(payload), kind))
        elif kind == "h1":
            body.append("<h1>%s</h1>" % html.escape(payload))
        elif kind == "p":
            body.append("<p>%s</p>" % inline_html(payload))
        elif kind == "ul":
            body.append("<ul>%s</ul>" % "".join("<li>%s</li>" % inline_html(i) for i in payload))
        elif kind == "table":
            head, rows = payload[0], payload[1:]
            cells = "".join("<th>%s</th>" % inline_html(c) for c in head)
            lines = ["<tr>%s</tr>" % cells]
            for row in rows:
                lines.append("<tr>%s</tr>" % "".join("<td>%s</td>" % inline_html(c) for c in row))
            body.append("<table>%s</table>" % "".join(lines))
    style = ("body{font-family:sans-serif;max-width:50em;margin:2em auto;line-height:1.45}"
             "code{font-family:monospace;background:#f2f2f2;padding:0 .2em}"
             "table{border-collapse:collapse;margin:1em 0}"
             "td,th{border:1px solid #ccc;padding:.25em .6em;text-align:left;vertical-align:top}"
             "nav li.h3{margin-left:1.5em}")
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>%s</title><style>%s</style></head><body>\n"
            "<nav><h2>Contents</h2><ul>%s</ul></nav>\n%s\n"
            "<footer><p>Quarry %s</p></footer></body></html>\n" %
            (html.escape(title), style, "".join(toc), "\n".join(body), html.escape(version)))


def roff_text(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"`([^`]*)`", r"\\fB\1\\fR", text)
    return text


def roff_line(text):
    text = roff_text(text)
    return "\\&" + text if text.startswith((".", "'")) else text


def to_man(doc, version):
    start = next(i for i, (k, p) in enumerate(doc) if k == "h2" and p == CLI_SECTION)
    section = []
    for kind, payload in doc[start + 1:]:
        if kind in ("h1", "h2"):
            break
        section.append((kind, payload))
    out = ['.TH QUARRY-CLI 1 "" "Quarry %s" "User Commands"' % version,
           ".SH NAME", "quarry-cli \\- search and rewrite text with Quarry's regular expressions"]
    for kind, payload in section:
        if kind == "h3":
            out.append(".SH " + payload.upper())
        elif kind == "p":
            out += [".PP", roff_line(payload)]
        elif kind == "ul":
            for item in payload:
                out += [".IP \\(bu 2", roff_line(item)]
        elif kind == "table":
            for row in payload[1:]:
                out += [".TP", roff_line(row[0]), roff_line(row[1])]
    out += [".SH SEE ALSO",
            "The Quarry manual, installed as share/doc/quarry/manual.html, describes the "
            "expression and rewrite languages in full."]
    return "\n".join(out) + "\n"


def main():
    source, html_out, man_out, version = sys.argv[1:5]
    with open(source, encoding="utf-8") as f:
        doc = blocks(f.readlines())
    with open(html_out, "w", encoding="utf-8") as f:
        f.write(to_html(doc, version))
    with open(man_out, "w", encoding="utf-8") as f:
        f.write(to_man(doc, version))


if __name__ == "__main__":
    main()
