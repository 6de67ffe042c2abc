# Progress lines shared by build.sh and test.sh (sourced, not run): "[n/N] title ..." when a
# stage begins and "title: done in S s" when it ends. The sourcing script sets STAGES.
stage_no=0
stage_name=""
stage_start=0

stage_begin() { # stage_begin <title>: ends the stage before, if any, and starts the next
  stage_done
  stage_no=$((stage_no + 1))
  stage_name=$1
  stage_start=$(date +%s)
  echo "[$stage_no/$STAGES] $stage_name ..."
}

stage_done() {
  [ -n "$stage_name" ] || return 0
  echo "      $stage_name: done in $(($(date +%s) - stage_start)) s"
  stage_name=""
}
