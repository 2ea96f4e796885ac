"""A study as one self-contained HTML page: summary, charts, parameter importances and a sortable
table of trials. It works offline: plotly's JavaScript is embedded when plotly is installed (the
"report" extra), otherwise the charts are embedded as images drawn by matplotlib."""

from ._page import write_report

__all__ = ["write_report"]
