"$FORGE" sf.txt .
