# The database of the dictionary bootstrap case, with its dictionary.
"$FORGE" "$CASE_DIR/../dict_bootstrap/files/db.txt" .
