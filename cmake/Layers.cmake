# The layers of src/, lowest first. A file may include headers of its own
# module and of modules of a lower rank, never of a higher rank or of
# another module of the same rank. Each entry is
#   <rank>|<module>|<pattern>[,<pattern>...]
# with patterns relative to src/ (shell wildcards); a file belongs to the
# first entry that matches it, so a module that shares a directory with a
# higher one (log/cs under log, mqsc/mqsc_tables under mqsc, the
# certificate parsers under cert) comes first. A file of src/ that matches no
# entry fails the check: a new module adds its line here (and its library
# in its directory's CMakeLists.txt, linking only libraries of lower rank).
set(TV_LAYERS
  "0|platform|platform/*"
  "1|cs|log/cs.*,log/runstate.*"
  "2|mqi|mqconst/mqi.h,mqconst/mqpcf.h,mqconst/mqconstants.inc"
  "3|mqconst|mqconst/*"
  "4|config|config/*"
  "5|log|log/*"
  "6|mq|mq/*"
  "7|pcf|pcf/*"
  "8|routing|routing/*"
  "9|mqsc|mqsc/*"
  "10|expr|expr/*"
  "11|cert|cert/*"
  "12|core|core/*"
)
