"""Lets `python -m linetopo` run the command line."""

import sys

from .cli import main

sys.exit(main())
