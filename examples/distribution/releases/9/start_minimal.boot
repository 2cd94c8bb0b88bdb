placeholder boot file: minimal start-up
