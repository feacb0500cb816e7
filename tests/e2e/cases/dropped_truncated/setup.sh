"$FORGE" rescue.forge .
