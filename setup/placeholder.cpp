// placeholder until the launcher core is in
