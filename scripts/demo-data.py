#!/usr/bin/env python3
"""Prints the demo rows (sql/demo-data.sql.in) as SQL for one engine.

   scripts/demo-data.py sqlite|postgresql|mariadb [TEMPLATE]

{day}, {day+N}, {day-N} become the date literal 'YYYY-MM-DD' of today (local time) moved by N
days, {day+N HH:MM:SS} the literal 'YYYY-MM-DD HH:MM:SS'; every engine reads these ISO texts the
same way. {crlf}, inside a text literal, becomes a CR LF in the engine's own words: the engines'
command-line clients drop a CR written as it is.
"""
import datetime
import pathlib
import re
import sys

TOKEN = re.compile(r"\{day(?:([+-]\d+))?(?: (\d\d:\d\d:\d\d))?\}|\{crlf\}")
CRLF = {
    "sqlite": "' || char(13, 10) || '",
    "postgresql": "' || chr(13) || chr(10) || '",
    "mariadb": "\\r\\n",  # MariaDB reads backslash escapes in literals (its default sql_mode)
}


def render(template: str, engine: str, today: datetime.date) -> str:
    def replace(match: re.Match) -> str:
        if match.group(0) == "{crlf}":
            return CRLF[engine]
        day = today + datetime.timedelta(days=int(match.group(1) or 0))
        time = f" {match.group(2)}" if match.group(2) else ""
        return f"'{day.isoformat()}{time}'"

    lines = []
    for line in template.splitlines(keepends=True):
        if not line.lstrip().startswith("--"):  # comments describe the placeholders: kept as is
            line = TOKEN.sub(replace, line)
            left = re.search(r"\{[a-z]+[^}]*\}", line)
            if left:
                raise SystemExit(f"demo-data.py: unknown placeholder {left.group(0)}")
        lines.append(line)
    return "".join(lines)


def main() -> None:
    if len(sys.argv) not in (2, 3) or sys.argv[1] not in CRLF:
        raise SystemExit("usage: demo-data.py sqlite|postgresql|mariadb [TEMPLATE]")
    default = pathlib.Path(__file__).resolve().parent.parent / "sql" / "demo-data.sql.in"
    template = pathlib.Path(sys.argv[2]) if len(sys.argv) == 3 else default
    sys.stdout.write(render(template.read_text(encoding="utf-8"), sys.argv[1],
                            datetime.date.today()))


if __name__ == "__main__":
    main()
