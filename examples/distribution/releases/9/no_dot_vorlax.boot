placeholder boot file: start-up without a dot file
