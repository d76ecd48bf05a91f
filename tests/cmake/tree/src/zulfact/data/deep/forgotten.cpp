// in a subfolder that nothing compiles
