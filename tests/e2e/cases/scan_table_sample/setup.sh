"$FORGE" sample .
# Only the USERS datafile: no dictionary to unload by name.
grep users01 zor.cfg > users.cfg
