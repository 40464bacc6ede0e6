"""FunClassCNNs as a plain Python function.

The same procedure as the native module, call for call and in the same order,
so that for equal arguments and seed both print the same text, train the same
weights and return the same results. The differential tests use it as their
oracle and the benchmark as the baseline for the module's own overhead.
"""

import numpy as np
import torch
import torch.nn as nn
import torch.optim as optim
from torch.utils.data import DataLoader, TensorDataset
from sklearn.model_selection import train_test_split
from sklearn.metrics import accuracy_score, recall_score, precision_score, confusion_matrix
import matplotlib.pyplot as plt
import seaborn as sns

plt.rcParams["font.family"] = "SimHei"
plt.rcParams["axes.unicode_minus"] = False


def FunClassCNNs(dataX, dataY, divideR, cLayer, poolingLayer, fcLayer, options, setting):
    """Train and evaluate a CNN classifier; returns accuracy, recall, precision, model, info."""
    # Seeding.
    if "seed" in setting and setting["seed"] != 0:
        torch.manual_seed(setting["seed"])
        np.random.seed(setting["seed"])

    # Min-max scaling over the whole array; a zero range divides by 1, so
    # constant samples scale to zeros.
    if setting.get("minmax", True):
        shifted = dataX - np.min(dataX)
        span = np.max(dataX) - np.min(dataX)
        if span == 0:
            span = 1
        dataX = shifted / span

    # Device.
    if (setting.get("deviceSel", "gpu") == "gpu") & torch.cuda.is_available():
        dev = "cuda:" + str(torch.cuda.current_device())
        print("当前设备为：" + dev + "---" + torch.cuda.get_device_name(0))
    else:
        dev = "cpu"
        print("当前设备为cpu")
        if setting.get("deviceSel") == "gpu":
            print("如果选择使用gpu但显示使用CPU，可能是硬件设备不可用。可以参考下述链接解决:")
            print("https://pytorch.org/get-started/locally/")
            print("https://pytorch.org/docs/stable/notes/cuda.html")
    device = torch.device(dev)

    # Tensors, split, data sets and loaders.
    dataX = torch.tensor(dataX, dtype=torch.float32).to(device)
    dataY = torch.tensor(dataY, dtype=torch.long).to(device)
    train_ratio, val_ratio, test_ratio = divideR
    train_data, test_data, train_labels, test_labels = train_test_split(
        dataX, dataY, test_size=1 - train_ratio, random_state=42)
    val_data, test_data, val_labels, test_labels = train_test_split(
        test_data, test_labels, test_size=test_ratio / (val_ratio + test_ratio), random_state=42)
    train_dataset = TensorDataset(train_data, train_labels)
    val_dataset = TensorDataset(val_data, val_labels)
    test_dataset = TensorDataset(test_data, test_labels)
    train_loader = DataLoader(train_dataset, batch_size=options.get("MiniBatchSize", 128), shuffle=True)
    val_loader = DataLoader(val_dataset, batch_size=options.get("MiniBatchSize", 128))
    test_loader = DataLoader(test_dataset, batch_size=options.get("MiniBatchSize", 128))

    # The network class of this call.
    class CNN(nn.Module):
        def __init__(self, cLayer, poolingLayer, fcLayer, num_classes):
            super(CNN, self).__init__()
            self.conv_layers = nn.ModuleList()
            self.pool_layers = nn.ModuleList()
            for i in range(len(cLayer)):
                if i == 0:
                    in_channels = dataX.shape[1]
                else:
                    in_channels = cLayer[i - 1][2]
                out_channels = cLayer[i][2]
                kernel_size = (cLayer[i][0], cLayer[i][1])
                stride = cLayer[i][3]
                padding = cLayer[i][4]
                self.conv_layers.append(
                    nn.Conv2d(in_channels, out_channels, kernel_size, stride, padding).to(device))
                self.conv_layers.append(nn.ReLU())
                if poolingLayer[i][0] != "none":
                    if poolingLayer[i][0] == "maxPooling2dLayer":
                        self.conv_layers.append(nn.MaxPool2d(
                            kernel_size=(poolingLayer[i][1], poolingLayer[i][2]),
                            stride=poolingLayer[i][3], padding=poolingLayer[i][4])).to(device)
                    elif poolingLayer[i][0] == "averagePooling2dLayer":
                        self.conv_layers.append(nn.AvgPool2d(
                            kernel_size=(poolingLayer[i][1], poolingLayer[i][2]),
                            stride=poolingLayer[i][3], padding=poolingLayer[i][4])).to(device)
            self.fc_layers = nn.ModuleList()
            if len(fcLayer) == 0:
                self.fc_layers.append(nn.Linear(self.get_conv_output_size(), num_classes)).to(device)
            else:
                self.fc_layers.append(nn.Linear(self.get_conv_output_size(), fcLayer[0])).to(device)
                self.fc_layers.append(nn.ReLU())
                for i in range(1, len(fcLayer)):
                    self.fc_layers.append(nn.Linear(fcLayer[i - 1], fcLayer[i])).to(device)
                    self.fc_layers.append(nn.ReLU())
                self.fc_layers.append(nn.Linear(fcLayer[-1], num_classes)).to(device)

        def get_conv_output_size(self):
            """
            计算卷积层输出的特征图大小
            """
            x = torch.zeros(1, *dataX.shape[1:])
            x = x.to(device)
            for conv_layer in self.conv_layers:
                x = conv_layer(x)
            for pool_layer in self.pool_layers:
                x = pool_layer(x)
            return np.prod(x.shape[1:])

        def forward(self, x):
            """
            前向传播
            """
            for layer in self.conv_layers:
                x = layer(x)
            x = x.view(x.size(0), -1)
            for fc_layer in self.fc_layers:
                x = fc_layer(x)
            return x

    # Training set-up.
    num_classes = dataY.max().item() + 1
    model = CNN(cLayer, poolingLayer, fcLayer, num_classes).to(device)
    criterion = nn.CrossEntropyLoss()
    optimizer = optim.Adam(model.parameters(), lr=options.get("InitialLearnRate", 0.005))
    num_epochs = options.get("MaxEpochs", 30)
    val_freq = options.get("ValidationFrequency", 50)
    lr_scheduler = optim.lr_scheduler.StepLR(
        optimizer, step_size=options.get("LearnRateDropPeriod", 10),
        gamma=options.get("LearnRateDropFactor", 0.95))
    train_losses = []
    train_accuracies = []
    val_losses = []
    val_accuracies = []
    print("模型结构:")
    print(model)

    def validation_pass():
        model.eval()
        val_loss = 0.0
        val_preds = []
        val_true = []
        with torch.no_grad():
            for data, labels in val_loader:
                outputs = model(data)
                loss = criterion(outputs, labels)
                val_loss += loss.item() * data.size(0)
                _, preds = torch.max(outputs, 1)
                val_preds.extend(preds.cpu().numpy())
                val_true.extend(labels.cpu().numpy())
        val_loss /= len(val_loader.dataset)
        val_losses.append(val_loss)
        val_acc = accuracy_score(val_true, val_preds)
        val_accuracies.append(val_acc)
        return val_loss, val_acc

    # Initial validation and the epochs.
    val_loss, val_acc = validation_pass()
    print(f"Initial Validation, Val Loss: {val_loss:.4f}, Val Acc: {val_acc:.4f}")
    for epoch in range(num_epochs):
        model.train()
        train_loss = 0.0
        train_preds = []
        train_true = []
        for data, labels in train_loader:
            optimizer.zero_grad()
            outputs = model(data)
            loss = criterion(outputs, labels)
            loss.backward()
            optimizer.step()
            train_loss += loss.item() * data.size(0)
            _, preds = torch.max(outputs, 1)
            train_preds.extend(preds.cpu().numpy())
            train_true.extend(labels.cpu().numpy())
        train_loss /= len(train_loader.dataset)
        train_acc = accuracy_score(train_true, train_preds)
        train_losses.append(train_loss)
        train_accuracies.append(train_acc)
        print(f"Epoch [{epoch + 1}/{num_epochs}], Train Loss: {train_loss:.4f}, Train Acc: {train_acc:.4f}")
        if (epoch + 1) % val_freq == 0:
            val_loss, val_acc = validation_pass()
            print(f"Epoch [{epoch + 1}/{num_epochs}], Val Loss: {val_loss:.4f}, Val Acc: {val_acc:.4f}")
        lr_scheduler.step()

    # Test evaluation.
    model.eval()
    test_preds = []
    test_true = []
    with torch.no_grad():
        for data, labels in test_loader:
            outputs = model(data)
            _, preds = torch.max(outputs, 1)
            test_preds.extend(preds.cpu().numpy())
            test_true.extend(labels.cpu().numpy())
    accuracy = accuracy_score(test_true, test_preds)
    recall = recall_score(test_true, test_preds, average="weighted")
    precision = precision_score(test_true, test_preds, average="weighted")
    info = {
        "train_losses": train_losses,
        "train_accuracies": train_accuracies,
        "val_losses": val_losses,
        "val_accuracies": val_accuracies,
    }
    print(f"测试集准确率: {accuracy:.6f}, 召回率: {recall:.6f}, 精确率: {precision:.6f}")

    if setting.get("figflag", "off") == "on":
        plt.ion()

        # Training and validation curves.
        plt.figure(figsize=(12, 4))
        plt.subplot(1, 2, 1)
        plt.plot(range(num_epochs), train_losses, label="训练损失")
        val_epochs = [0] + list(range(val_freq - 1, num_epochs, val_freq))
        plt.plot(val_epochs, val_losses, label="验证损失")
        plt.xlabel("迭代次数")
        plt.ylabel("损失")
        plt.title("损失曲线")
        plt.legend()
        plt.subplot(1, 2, 2)
        plt.plot(range(num_epochs), train_accuracies, label="训练准确率")
        plt.plot(val_epochs, val_accuracies, label="验证准确率")
        plt.xlabel("迭代次数")
        plt.ylabel("准确率")
        plt.title("准确率曲线")
        plt.legend()
        plt.tight_layout()
        plt.show(block=True)

        # True against predicted class, test samples ordered by true class.
        plt.figure(figsize=(8, 6))
        classes = sorted(list(set(test_true)))
        class_indices = range(len(classes))
        sorted_indices = np.argsort(test_true)
        sorted_test_true = [test_true[i] for i in sorted_indices]
        sorted_test_preds = [test_preds[i] for i in sorted_indices]
        plt.plot(sorted_test_true, "bo", label="真实标签")
        plt.plot(sorted_test_preds, "r.", label="预测标签")
        plt.xlabel("样本编号")
        plt.ylabel("类别")
        plt.yticks(class_indices, classes)
        plt.title("测试集 - 真实标签 vs 预测标签")
        plt.legend()
        plt.grid(True)
        plt.show(block=True)

        # Confusion matrix.
        cm = confusion_matrix(test_true, test_preds)
        plt.figure(figsize=(8, 6))
        sns.heatmap(cm, annot=True, fmt="d", cmap="Blues")
        plt.xlabel("预测标签")
        plt.ylabel("真实标签")
        plt.title("混淆矩阵")
        plt.show(block=True)

    return accuracy, recall, precision, model, info
