"""`python -m paravox`: the same command line as `paravox`."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
