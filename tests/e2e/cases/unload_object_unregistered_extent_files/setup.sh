"$FORGE" "$CASE_DIR/db.txt" .
