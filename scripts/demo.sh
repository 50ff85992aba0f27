#!/bin/sh
# Builds a sample package and installs it with the stub under Wine.
exec /usr/bin/python3 "$(dirname "$0")/demo.py"
