"""The setup variants, tables and packages now live in the harness (tests/harness.py)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness import (LUMORA_PRODUCT_CODE, build_variants, c_string, lumora_download_tables,  # noqa: E402,F401
                     lumora_package, package_wxs)
