placeholder boot file: standard start-up with the tavrel component
