"$FORGE" db.txt .
