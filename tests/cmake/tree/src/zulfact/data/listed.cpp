// compiled
