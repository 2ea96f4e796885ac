"""python -m tarvex: the tarvex command."""

import sys

from .cli import main

sys.exit(main())
