"""What the plots and the report share besides their data: state colours and the notes they make."""

STATE_COLOURS = {"Complete": "#1f77b4", "Pruned": "#ff7f0e", "Failed": "#d62728", "Running": "#7f7f7f"}


def dropped(n: int) -> str:
    return f"{n} trial{'s' if n != 1 else ''} with a NaN or infinite value not shown"
