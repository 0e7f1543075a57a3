print("demo")
