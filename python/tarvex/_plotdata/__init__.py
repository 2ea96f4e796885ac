"""What the plots show, worked out apart from any drawing: the matplotlib plots and the HTML
report's charts draw the same data."""
