#!/usr/bin/env bash
# Proves that the stress harness (tests/stress, objstore_stress) notices the loss of each guard of
# "every item ends exactly once, committed or handed back". The guards and the change that
# disables each are listed in scripts/guard-mutations.txt.
#
# The working tree (tracked and untracked files, no build directories) is copied once into a
# scratch directory, configured there once (Release, tests on, tools and benchmarks off) and only
# the harness is built. The harness first runs unchanged, to show that it passes. Then, one
# mutation at a time: the change is applied (a mutation whose text is not found exactly once
# fails the script, so none can rot unnoticed), the harness rebuilt incrementally and run with
# --mode <m> --first 1 --seeds N, and the file restored from a pristine copy. The result is a
# markdown table on standard output: how many seeds it took to catch each mutation, or
# "survived N". A mutation is caught when one of its modes catches it. A mutation that no
# schedule can reach (modes: unit) runs against the unit test its entry names instead.
#
# Time on 2 cores: about a minute and a half to copy, configure and build; then per mutation
# 5 to 10 s to rebuild, plus the harness runs: a caught mutation costs a few seeds, a survivor
# the whole run of N seeds (200 seeds take about 2 s in deterministic mode and half a minute in
# threaded mode). A default run of the whole list takes about 10 to 15 minutes.
#
# Exit status: 0 when every mutation was caught, 1 when one survived every mode, 2 when the script could
# not do its work (bad options, a mutation that no longer applies or compiles, a build failure,
# or a harness that fails without any mutation).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: scripts/mutate-guards.sh [options] [-- harness options]
  --only NAME        run only this mutation (repeatable; also NAME,NAME)
  --seeds N          seeds per harness run (default 200)
  --mode M           threaded, deterministic or both (default both); a mutation runs only in
                     the modes its list entry names
  --keep             keep the scratch directory (sources, build, logs) and print its path
  --build-only       apply and compile every mutation, run nothing: checks that the list
                     still fits the code
  --timeout S        limit for one harness run, in seconds (default 1800)
  --list             print the mutations and exit
  --check            build and run nothing: check that every entry still applies (its find
                     text occurs exactly once in its file in this tree); exit 1 naming each
                     entry that does not
  --help             this text
Options after "--" go to every harness run (e.g. -- --hang-seconds 60).
The list is scripts/guard-mutations.txt; MUTATIONS_FILE=path replaces it.
EOF
}

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mutations_file=${MUTATIONS_FILE:-$repo_root/scripts/guard-mutations.txt}

# The parsed list, one entry per mutation at the same index.
m_name=() m_file=() m_modes=() m_removes=() m_find=() m_replace=() m_unit=()

die() {
  echo "mutate-guards: $*" >&2
  exit 2
}

note() {
  echo "mutate-guards: $*" >&2
}

# Reads the mutation list into the m_* arrays and checks each entry for completeness.
parse_list() {
  local file=$1 line key value count=-1 lineno=0
  [[ -r $file ]] || die "cannot read the mutation list $file"
  while IFS= read -r line || [[ -n $line ]]; do
    lineno=$((lineno + 1))
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    [[ $line =~ ^([a-z]+):[[:space:]]*(.*)$ ]] || die "$file:$lineno: expected 'key: value'"
    key=${BASH_REMATCH[1]}
    value=${BASH_REMATCH[2]}
    if [[ $key == name ]]; then
      count=$((count + 1))
      m_name[count]=$value m_file[count]='' m_modes[count]='' m_removes[count]=''
      m_find[count]='' m_replace[count]='' m_unit[count]=''
      continue
    fi
    ((count >= 0)) || die "$file:$lineno: '$key' before the first name"
    case $key in
      file) m_file[count]=$value ;;
      modes) m_modes[count]=$value ;;
      removes) m_removes[count]=$value ;;
      find) m_find[count]=$value ;;
      replace) m_replace[count]=$value ;;
      unit) m_unit[count]=$value ;;
      tests) ;;
      *) die "$file:$lineno: unknown key '$key'" ;;
    esac
  done <"$file"
  ((count >= 0)) || die "$file holds no mutation"
  local i j
  for i in "${!m_name[@]}"; do
    [[ -n ${m_file[i]} && -n ${m_find[i]} && -n ${m_removes[i]} ]] ||
      die "$file: mutation '${m_name[i]}' needs file, removes and find"
    [[ ${m_modes[i]} =~ ^(both|threaded|deterministic|unit)$ ]] ||
      die "$file: mutation '${m_name[i]}': modes must be both, threaded, deterministic or unit"
    [[ ${m_modes[i]} != unit || ${m_unit[i]} =~ ^[a-z_]+\ [A-Za-z_.*:/]+$ ]] ||
      die "$file: mutation '${m_name[i]}': modes unit needs 'unit: <test binary> <gtest filter>'"
    for ((j = 0; j < i; ++j)); do
      [[ ${m_name[j]} != "${m_name[i]}" ]] || die "$file: two mutations named '${m_name[i]}'"
    done
  done
}

# Replaces the one occurrence of `find` in `path` by `replace` (both with \n and \\ escapes).
# Fails, changing nothing, when the text occurs other than exactly once.
apply_mutation() {
  local name=$1 path=$2 find=$3 replace=$4
  perl -e '
    my ($name, $path, $find, $replace) = @ARGV;
    for ($find, $replace) { s/\\(n|\\)/$1 eq "n" ? "\n" : "\\"/ge; }
    open(my $in, "<", $path) or die "mutate-guards: cannot read $path: $!\n";
    my $text = do { local $/; <$in> };
    close($in);
    my $count = () = $text =~ /\Q$find\E/g;
    if ($count != 1) {
      print STDERR "mutate-guards: mutation $name: the text to replace occurs $count times " .
                   "in $path, not once:\n$find\n";
      exit 3;
    }
    $text =~ s/\Q$find\E/$replace/;
    open(my $out, ">", $path) or die "mutate-guards: cannot write $path: $!\n";
    print $out $text;
    close($out) or die "mutate-guards: cannot write $path: $!\n";
  ' "$name" "$path" "$find" "$replace"
}

# How often `find` (with \n and \\ escapes) occurs in `path`; -1 when the file cannot be read.
count_occurrences() {
  local path=$1 find=$2
  perl -e '
    my ($path, $find) = @ARGV;
    $find =~ s/\\(n|\\)/$1 eq "n" ? "\n" : "\\"/ge;
    open(my $in, "<", $path) or do { print "-1\n"; exit 0 };
    my $text = do { local $/; <$in> };
    my $count = () = $text =~ /\Q$find\E/g;
    print "$count\n";
  ' "$path" "$find"
}

# --check: every selected entry's find text occurs exactly once in its file of this tree.
check_entries() {
  local i count bad=0
  for i in "$@"; do
    count=$(count_occurrences "$repo_root/${m_file[i]}" "${m_find[i]}")
    if ((count == -1)); then
      echo "guard-mutations: entry '${m_name[i]}': cannot read its file ${m_file[i]}" >&2
      bad=$((bad + 1))
    elif ((count != 1)); then
      echo "guard-mutations: entry '${m_name[i]}': its find text occurs $count times in" \
        "${m_file[i]}, not once: ${m_find[i]}" >&2
      bad=$((bad + 1))
    fi
  done
  if ((bad > 0)); then
    echo "guard-mutations: $bad of $# entries of $mutations_file no longer apply;" \
      "update their find text to the code" >&2
    return 1
  fi
  echo "guard-mutations: all $# entries apply (each find text occurs once in its file)"
}

# Copies the working tree's files (tracked, and untracked but not ignored) into `dest`.
copy_tree() {
  local dest=$1
  mkdir -p "$dest"
  git -C "$repo_root" ls-files -z --cached --others --exclude-standard |
    ROOT=$repo_root perl -0 -ne 'chomp; print "$_\0" if -f "$ENV{ROOT}/$_" && !m{^build[^/]*/}' |
    tar -C "$repo_root" --null -T - -cf - | tar -C "$dest" -xf -
}

# Builds `target` in the scratch build directory; its output goes to `log`.
build_target() {
  local target=$1 log=$2
  cmake --build "$build_dir" --target "$target" -j "$jobs" >"$log" 2>&1
}

# Runs the harness once; prints the table cell: the seed that caught the mutation, or
# "survived N". Its output goes to `log`.
run_harness() {
  local mode=$1 log=$2 rc=0 seed
  timeout -k 10 "$run_timeout" "$harness" --mode "$mode" --first 1 --seeds "$seeds" \
    "${harness_args[@]}" >"$log" 2>&1 || rc=$?
  seed=$(sed -n 's/^FAILED seed=\([0-9][0-9]*\).*/\1/p' "$log" | head -n 1)
  if ((rc == 0)); then
    echo "survived $seeds"
  elif [[ -n $seed ]]; then
    if grep -q "^FAILED seed=$seed: hang" "$log"; then echo "$seed (hang)"; else echo "$seed"; fi
  elif ((rc == 124 || rc == 137)); then
    echo "timed out after ${run_timeout} s"
  elif ((rc == 2)); then
    note "the harness refused its options; see $log:"
    tail -n 5 "$log" >&2
    exit 2
  elif ((rc > 128)); then
    echo "crashed (signal $((rc - 128)))"
  else
    echo "failed, exit $rc, no FAILED line"
  fi
}

# A mutation that no harness schedule can reach (no critical section bounds its window) runs
# against the unit test its entry names instead; the cell says whether that test fails.
run_unit() {
  local i=$1 binary filter exe
  local -n rows_ref=$2 survivors_ref=$3
  read -r binary filter <<<"${m_unit[i]}"
  build_target "$binary" "$logs/${m_name[i]}.build.log" ||
    die "mutation ${m_name[i]} does not compile; change its entry in $mutations_file"
  exe=$(find "$build_dir" -name "$binary" -type f -perm -u+x | head -n 1)
  [[ -n $exe ]] || die "no $binary in $build_dir"
  ((build_only)) && { rows_ref+=("| ${m_name[i]} | ${m_file[i]} | ${m_removes[i]} | - | compiles |"); return; }
  if "$exe" --gtest_filter="$filter" >"$logs/${m_name[i]}.unit.log" 2>&1; then
    survivors_ref+=("${m_name[i]} (unit)")
    rows_ref+=("| ${m_name[i]} | ${m_file[i]} | ${m_removes[i]} | unit: $filter | survived |")
  else
    rows_ref+=("| ${m_name[i]} | ${m_file[i]} | ${m_removes[i]} | unit: $filter | fails |")
  fi
  note "${m_name[i]}, unit $filter: ${rows_ref[-1]##*| }"
}

modes_for() {
  local wanted=$1 allowed=$2 m
  for m in deterministic threaded; do
    [[ $wanted == both || $wanted == "$m" ]] || continue
    [[ $allowed == both || $allowed == "$m" ]] || continue
    echo "$m"
  done
}

main() {
  local seeds_opt=200 mode_opt=both keep=0 build_only=0 list_only=0 check_only=0 timeout_opt=1800
  local only=()
  harness_args=()
  while (($# > 0)); do
    case $1 in
      --only)
        (($# >= 2)) || die "--only needs a name"
        IFS=, read -r -a names <<<"$2"
        only+=("${names[@]}")
        shift 2
        ;;
      --seeds)
        [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--seeds needs a positive number"
        seeds_opt=$2
        shift 2
        ;;
      --mode)
        [[ ${2:-} =~ ^(threaded|deterministic|both)$ ]] ||
          die "--mode needs threaded, deterministic or both"
        mode_opt=$2
        shift 2
        ;;
      --timeout)
        [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--timeout needs a positive number of seconds"
        timeout_opt=$2
        shift 2
        ;;
      --keep) keep=1 && shift ;;
      --build-only) build_only=1 && shift ;;
      --list) list_only=1 && shift ;;
      --check) check_only=1 && shift ;;
      --help | -h) usage && exit 0 ;;
      --) shift && harness_args=("$@") && break ;;
      *) usage >&2 && exit 2 ;;
    esac
  done
  seeds=$seeds_opt
  run_timeout=$timeout_opt
  jobs=${JOBS:-$(nproc)}

  parse_list "$mutations_file"
  local selected=() i name found
  for name in "${only[@]}"; do
    found=0
    for i in "${!m_name[@]}"; do [[ ${m_name[i]} == "$name" ]] && found=1; done
    ((found)) || die "no mutation named '$name' (see --list)"
  done
  for i in "${!m_name[@]}"; do
    if ((${#only[@]} == 0)); then
      selected+=("$i")
      continue
    fi
    for name in "${only[@]}"; do [[ ${m_name[i]} == "$name" ]] && selected+=("$i"); done
  done
  if ((check_only)); then
    check_entries "${selected[@]}" && exit 0
    exit 1
  fi
  if ((list_only)); then
    for i in "${selected[@]}"; do
      printf '%-24s %-8s %-40s %s\n' "${m_name[i]}" "${m_modes[i]}" "${m_file[i]}" "${m_removes[i]}"
    done
    exit 0
  fi

  scratch=$(mktemp -d "${TMPDIR:-/tmp}/mutate-guards.XXXXXX")
  if ((keep)); then
    trap 'note "scratch directory kept: $scratch"' EXIT
  else
    trap 'rm -rf "$scratch"' EXIT
  fi
  local src=$scratch/src logs=$scratch/logs
  build_dir=$scratch/build
  mkdir -p "$logs" "$scratch/pristine"

  local started=$SECONDS
  note "copying the working tree to $src"
  copy_tree "$src"
  local generator=() tools=OFF
  command -v ninja >/dev/null && generator=(-G Ninja)
  # The host program's unit tests are targets only when the tools are configured.
  for i in "${selected[@]}"; do [[ ${m_file[i]} == tools/* ]] && tools=ON; done
  note "configuring (Release) and building objstore_stress"
  cmake -S "$src" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DOBJSTORE_BUILD_TESTS=ON -DOBJSTORE_BUILD_TOOLS=$tools -DOBJSTORE_BUILD_BENCH=OFF \
    >"$logs/configure.log" 2>&1 || { tail -n 30 "$logs/configure.log" >&2; die "configure failed"; }
  if ! build_target objstore_stress "$logs/build.log"; then
    tail -n 30 "$logs/build.log" >&2
    die "the unchanged harness does not build"
  fi
  harness=$build_dir/tests/stress/objstore_stress
  [[ -x $harness ]] || die "no harness at $harness after the build"
  note "built in $((SECONDS - started)) s"

  local m cell
  if ((!build_only)); then
    for m in $(modes_for "$mode_opt" both); do
      note "baseline: the unchanged harness, $m mode, $seeds seeds"
      cell=$(run_harness "$m" "$logs/baseline.$m.log")
      if [[ $cell != "survived $seeds" ]]; then
        tail -n 20 "$logs/baseline.$m.log" >&2
        die "the harness fails without any mutation ($m mode: seed $cell); fix that first"
      fi
    done
  fi

  local rows=() survivors=() path pristine t0 why
  for i in "${selected[@]}"; do
    name=${m_name[i]}
    path=$src/${m_file[i]}
    pristine=$scratch/pristine/$name
    [[ -f $path ]] || die "mutation $name: no file ${m_file[i]}"
    cp "$path" "$pristine"
    apply_mutation "$name" "$path" "${m_find[i]}" "${m_replace[i]}" || exit 2
    t0=$SECONDS
    if [[ ${m_modes[i]} == unit ]]; then
      run_unit "$i" rows survivors
      cp "$pristine" "$path"
      touch "$path"
      continue
    fi
    if ! build_target objstore_stress "$logs/$name.build.log"; then
      tail -n 30 "$logs/$name.build.log" >&2
      die "mutation $name does not compile; change its entry in $mutations_file"
    fi
    note "$name: applied and built in $((SECONDS - t0)) s"
    if ((build_only)); then
      rows+=("| ${m_name[i]} | ${m_file[i]} | ${m_removes[i]} | - | compiles |")
    else
      local ran=0 caught=0
      for m in $(modes_for "$mode_opt" "${m_modes[i]}"); do
        ran=1
        t0=$SECONDS
        cell=$(run_harness "$m" "$logs/$name.$m.log")
        # The first violation the harness names, to tell a catch from an unrelated failure.
        why=$(grep -A 1 -m 1 '^FAILED seed=' "$logs/$name.$m.log" | sed -n '2s/^ *//p' || true)
        note "$name, $m: $cell ($((SECONDS - t0)) s)${why:+: $why}"
        [[ $cell == survived* ]] || caught=1
        rows+=("| ${m_name[i]} | ${m_file[i]} | ${m_removes[i]} | $m | $cell |")
      done
      # One mode that catches it is enough: some races only real threads reach, some
      # interleavings only the deterministic mode forces.
      ((!ran || caught)) || survivors+=("$name")
      ((ran)) || rows+=("| ${m_name[i]} | ${m_file[i]} | ${m_removes[i]} | ${m_modes[i]} only | not run |")
    fi
    # A fresh time stamp: the restored file is rebuilt with the next mutation.
    cp "$pristine" "$path"
    touch "$path"
  done

  echo "| mutation | file | what it removes | mode | seeds to catch |"
  echo "|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  note "done in $((SECONDS - started)) s"
  if ((${#survivors[@]} > 0)); then
    note "survived: ${survivors[*]}"
    exit 1
  fi
}

# Sourcing the script gives its functions without running it.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  main "$@"
fi
