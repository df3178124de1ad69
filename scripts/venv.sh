# Sourced by the scripts in this folder, from the repository's top folder: `venv` is the
# virtual environment scripts/setup.sh makes (.venv, or the folder PARAVOX_VENV names), and
# use_venv puts it first on the PATH as its own activate script would.
venv=${PARAVOX_VENV:-.venv}

use_venv() {
  if [ -x "$venv/bin/python" ]; then
    VIRTUAL_ENV=$(cd "$venv" && pwd)
    export VIRTUAL_ENV PATH="$VIRTUAL_ENV/bin:$PATH"
    unset PYTHONHOME
  fi
}
