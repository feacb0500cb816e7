"$FORGE" sample .
