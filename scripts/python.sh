# Sourced by the scripts: the Python the project's venvs are made from. The system's own python3
# (the one scripts/setup installs the headers and venv module of), or $PYTHON when set.
python=${PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=$(command -v python3)

# Its wheel tag, cp311 for CPython 3.11.
python_tag() {
  "$python" -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}")'
}
