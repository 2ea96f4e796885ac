"""The tarvex command: look at, export, report on, delete and watch stored studies.

    tarvex studies --storage sqlite:///tuning.db
    tarvex best    --storage sqlite:///tuning.db --study resnet
    tarvex trials  --storage sqlite:///tuning.db --study resnet --format csv > trials.csv
    tarvex report  --storage sqlite:///tuning.db --study resnet --out report.html
    tarvex delete  --storage sqlite:///tuning.db --study resnet --yes
    tarvex dashboard --storage sqlite:///tuning.db [--host 127.0.0.1] [--port 8080]

Exit status 0 on success, 2 with a one-line message on bad arguments, an unknown study, a
storage that cannot be opened or read, or output that cannot be written. The command never
creates a database. Stored text reaches the terminal with its control characters escaped; CSV
text cells that a spreadsheet would run as a formula start with a quote (')."""

from __future__ import annotations

import argparse
import csv
import datetime
import json
import math
import os
import re
import sys
from collections.abc import Callable, Sequence
from typing import Any

import _tarvex

from ._create import load_study
from ._records import state_counts, trial_records
from ._storage import DatabaseStorage, delete_study, open_storage
from ._study import Study
from ._version import __version__


class UsageError(Exception):
    """Bad arguments, an unknown study, an unusable storage: reported in one line, exit status 2."""


def main(argv: Sequence[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    try:
        args.command(args)
        sys.stdout.flush()  # a full disk or a closed pipe is found here, not at exit
    except UsageError as error:
        _fail(parser, args, str(error))
    except BrokenPipeError:  # output piped into head and the like
        _quiet_stdout()
    except KeyboardInterrupt:
        _fail(parser, args, "interrupted", status=130)
    except (OSError, RuntimeError, ValueError, KeyError) as error:
        if isinstance(error, OSError):
            _quiet_stdout()
        _fail(parser, args, _one_line(error))
    return 0


def _fail(parser: argparse.ArgumentParser, args: argparse.Namespace, message: str, status: int = 2) -> None:
    parser.exit(status, f"tarvex {args.name}: {_one_line(message)}\n")


def _quiet_stdout() -> None:
    """Points stdout at nothing, so that the interpreter's own flush at exit says nothing more."""
    try:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    except (OSError, ValueError):
        pass


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tarvex", description="Look at, export, report on and delete stored tarvex studies."
    )
    parser.add_argument("--version", action="version", version=f"tarvex {__version__}")
    commands = parser.add_subparsers(title="commands", required=True, metavar="COMMAND")

    def command(
        name: str, run: Callable[[argparse.Namespace], None], help_text: str, study: bool = True
    ) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=help_text, description=help_text)
        sub.add_argument(
            "--storage", required=True, metavar="URL", help="sqlite:///path.db or postgresql://user@host:port/database"
        )
        if study:
            sub.add_argument("--study", required=True, metavar="NAME", help="the study's name")
        sub.set_defaults(command=run, name=name)
        return sub

    command("studies", _studies, "List the stored studies: name, directions, trials by state, best value.", False)
    command("best", _best, "Show the best trial (the Pareto front of a multi-objective study).")
    trials = command(
        "trials", _trials, "Write every trial: number, state, values, parameters, times, user attributes, fail reason."
    )
    trials.add_argument(
        "--format",
        choices=("table", "csv", "json"),
        default="table",
        help="table (default), csv or json (one array of objects; NaN and infinities as null)",
    )
    trials.add_argument(
        "--intermediate",
        action="store_true",
        help="add each trial's intermediate values, its learning curve, as {step: value}",
    )
    report = command("report", _report, "Write a self-contained HTML report of the study.")
    report.add_argument("--out", required=True, metavar="PATH", help="the HTML file to write (not the database)")
    delete = command("delete", _delete, "Delete the study and all its trials.")
    delete.add_argument("--yes", action="store_true", help="confirm the deletion (required)")
    dashboard = command(
        "dashboard", _dashboard, "Serve a live dashboard of the stored studies until Ctrl-C (read-only).", False
    )
    dashboard.add_argument(
        "--host", default="127.0.0.1", help="the address to listen on (default 127.0.0.1: this machine only)"
    )
    dashboard.add_argument("--port", type=int, default=8080, help="the port (default 8080; 0: any free port)")
    return parser


def _storage(args: argparse.Namespace) -> DatabaseStorage:
    try:
        return open_storage(args.storage, "--storage")
    except (ValueError, RuntimeError, OSError) as error:
        raise UsageError(_one_line(error)) from None


def _study(args: argparse.Namespace) -> Study:
    storage = _storage(args)
    try:
        return load_study(study_name=args.study, storage=storage)
    except KeyError:
        raise UsageError(f"no study named {_terminal(args.study)!r} in {storage.url}") from None


def _one_line(error: BaseException | str) -> str:
    return _terminal(" ".join(str(error).split()))


# C0 and C1 control characters and DEL: a terminal would act on them (an escape sequence can set
# the window title or the clipboard).
_CONTROL = re.compile("[\x00-\x1f\x7f-\x9f]")


def _terminal(text: str) -> str:
    """text as a terminal may show it: control characters written as escapes (\\x1b)."""
    return _CONTROL.sub(lambda m: m.group().encode("unicode_escape").decode("ascii"), text)


def _studies(args: argparse.Namespace) -> None:
    storage = _storage(args)
    rows = []
    for record in storage.studies():
        study = load_study(study_name=record.name, storage=storage)
        counts = state_counts(study.trials)
        rows.append(
            {
                "name": record.name,
                "directions": "/".join(d.name.lower() for d in record.directions),
                "trials": sum(counts.values()),
                **{state: counts.get(state, 0) for state in ("Complete", "Pruned", "Failed", "Running")},
                "best value": _best_value(study),
                "user attrs": study.user_attrs or None,
            }
        )
    columns = ["name", "directions", "trials", "Complete", "Pruned", "Failed", "Running", "best value", "user attrs"]
    _table(columns, rows)


def _best_value(study: Study) -> str:
    if len(study.directions) > 1:
        front = study.best_trials
        return f"{len(front)} on the Pareto front" if front else ""
    complete = [t for t in study.trials if t.state == _tarvex.TrialState.Complete]
    if complete and not any(t.feasible for t in complete):
        return "no feasible trial"
    return _shown(study.best_value) if complete else ""


def _best(args: argparse.Namespace) -> None:
    study = _study(args)
    complete = [t for t in study.trials if t.state == _tarvex.TrialState.Complete]
    if not complete:
        raise UsageError(f"study {_terminal(args.study)!r} has no completed trial")
    if not any(t.feasible for t in complete):
        raise UsageError(f"study {_terminal(args.study)!r} has no feasible trial: each violates its constraints")
    best = study.best_trials if len(study.directions) > 1 else [study.best_trial]
    names = study.objective_names
    for trial in best:
        if names and len(trial.values) > 1:
            values = ", ".join(f"{_terminal(n)} {_shown(v)}" for n, v in zip(names, trial.values))
        else:
            values = ", ".join(_shown(v) for v in trial.values)
        print(f"trial {trial.number}: {'values' if len(trial.values) > 1 else 'value'} {values}")
        if trial.constraints:
            print(f"  constraints: {', '.join(_shown(c) for c in trial.constraints)}")
        for name, value in trial.params.items():
            print(f"  {_terminal(name)} = {_terminal(repr(value))}")


def _trials(args: argparse.Namespace) -> None:
    study = _study(args)
    columns, rows = trial_records(study, intermediate_values=args.intermediate)
    if args.format == "json":
        records = [{c: _json(row.get(c)) for c in columns} for row in rows]
        json.dump(records, sys.stdout, indent=1, allow_nan=False)
        print()
    elif args.format == "csv":
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow([_csv_text(c) for c in columns])
        writer.writerows([_csv_cell(row.get(c)) for c in columns] for row in rows)
    else:
        _table(columns, rows)


def _report(args: argparse.Namespace) -> None:
    from .report import write_report

    study = _study(args)
    try:
        write_report(study, args.out)
    except OSError as error:
        raise UsageError(f"cannot write {args.out}: {error.strerror or error}") from None
    print(f"wrote {args.out}")


def _delete(args: argparse.Namespace) -> None:
    if not args.yes:
        raise UsageError(f"deleting study {_terminal(args.study)!r} and all its trials needs --yes")
    storage = _storage(args)
    try:
        delete_study(study_name=args.study, storage=storage)
    except KeyError:
        raise UsageError(f"no study named {_terminal(args.study)!r} in {storage.url}") from None
    print(f"deleted study {_terminal(args.study)!r}")


def _dashboard(args: argparse.Namespace) -> None:
    from .dashboard import serve

    def ready(address: str) -> None:
        print(f"Serving the dashboard at {address} (Ctrl-C stops it)", flush=True)

    try:
        serve(args.storage, host=args.host, port=args.port, ready=ready)
    except KeyboardInterrupt:
        pass  # how a server is stopped: not a failure
    except (ValueError, FileNotFoundError, ImportError) as error:
        raise UsageError(_one_line(error)) from None


def _table(columns: list[str], rows: list[dict[str, Any]]) -> None:
    cells = [[_terminal(_text(row.get(c))) for c in columns] for row in rows]
    heads = [_terminal(c) for c in columns]
    widths = [max([len(c)] + [len(r[i]) for r in cells]) for i, c in enumerate(heads)]
    print("  ".join(c.ljust(w) for c, w in zip(heads, widths)).rstrip())
    for r in cells:
        print("  ".join(v.ljust(w) for v, w in zip(r, widths)).rstrip())


def _shown(value: float) -> str:
    return f"{value:.6g}"


def _text(value: Any) -> str:
    """A cell of a csv file or a table: numbers exactly, datetimes in ISO form, None empty."""
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, datetime.datetime):
        return value.isoformat()
    if isinstance(value, datetime.timedelta):
        return repr(value.total_seconds())
    if isinstance(value, (list, dict, bool)):
        return json.dumps(value)
    return str(value)


# A text cell starting so is a formula to a spreadsheet application.
_FORMULA_START = ("=", "+", "-", "@", "\t", "\r")


def _csv_cell(value: Any) -> str:
    """Numbers as they are (they read back exactly); text that a spreadsheet would run as a
    formula behind a quote, as OWASP recommends for CSV files."""
    if (
        isinstance(value, (int, float))
        and not isinstance(value, bool)
        or isinstance(value, (datetime.datetime, datetime.timedelta))
    ):
        return _text(value)
    return _csv_text(_text(value))


def _csv_text(text: str) -> str:
    return "'" + text if text.startswith(_FORMULA_START) else text


def _json(value: Any) -> Any:
    """A value as strict JSON has it: NaN and infinities as null wherever they are (attribute
    lists and dicts included), datetimes in ISO form, durations in seconds."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, datetime.datetime):
        return value.isoformat()
    if isinstance(value, datetime.timedelta):
        return value.total_seconds()
    if isinstance(value, dict):
        return {k: _json(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_json(v) for v in value]
    return value
