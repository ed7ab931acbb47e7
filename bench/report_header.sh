# Sourced by the benchmark scripts: the lines every report opens with, so that a figure
# can always be traced to its machine, date, commit and load.
# Usage: report_header TITLE
report_header() {
  echo "# $1"
  echo
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- commit: $(git -C "$source_root" rev-parse --short HEAD)$(git -C "$source_root" diff --quiet || echo ' (with changes)')"
  echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "$(free -g | awk '/Mem:/ {print $2}') GB memory; load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "- requests: each kind $runs times on each installation, alternately; whole CGI requests"
  echo "  (a new process each, as the web server runs them), wall time in ms"
}
